#!/usr/bin/env bash
# qnsdk against a hostile peer on the same host, in a private network:
#  1. `qnsdk discover --timeout 4` while the peer announces devices whose
#     LOCATION names qnsdk's own listening ports: qnsdk never fetches from
#     itself, and ends on time;
#  2. `qnsdk subscribe` to the example light while the peer sends events
#     with SIDs of no subscription: none of them is printed.
#   qnsdk_hostile.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
if [ "${QN_PRIVATE_NETNS:-}" != 1 ]; then
  exec "$src/tools/netns-run" bash "$0" "$@" || exit 77
fi
command -v ss >/dev/null || { echo "no ss: skipped"; exit 77; }
work=$(mktemp -d)
mkfifo "$work/hold"
exec 3<>"$work/hold"
pids=()
cleanup() {
  exec 3>&-
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
qnsdk=$build/tools/qnsdk
"$build/examples/light" --dir "$src/examples/binarylight" --addr 127.0.0.1 <"$work/hold" >/dev/null 2>&1 &
pids+=($!)
sleep 1.5

python3 "$src/tests/tools/hostile_peer.py" location 8 &
pids+=($!)
start=$(date +%s%N)
"$qnsdk" discover --addr 127.0.0.1 --timeout 4 >"$work/discover.out" 2>&1 || fail "qnsdk discover failed"
ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "discover --timeout 4 took $ms ms"
# Its time-out, the grace it gives a device heard late, and a second.
[ "$ms" -lt 8000 ] || fail "qnsdk discover outlived its time-out: $ms ms"
grep -q "uuid:6a1e5c7e-3b0f-4c8e-9d41-0c1b2a3d4e5f" "$work/discover.out" || fail "the light was not found"

python3 "$src/tests/tools/hostile_peer.py" event 5 &
pids+=($!)
"$qnsdk" subscribe http://127.0.0.1:30909/BinaryLight.xml urn:schemas-upnp-org:service:SwitchPower:1 \
  --for 5 --addr 127.0.0.1 >"$work/subscribe.out" 2>&1 || fail "qnsdk subscribe failed"
events=$(grep -c '"event"' "$work/subscribe.out" || true)
forged=$(grep -c FORGED "$work/subscribe.out" || true)
echo "subscribe printed $events events, $forged of them forged"
[ "$events" -ge 1 ] || fail "not even the initial event"
[ "$forged" -eq 0 ] || fail "forged events were printed"
echo "1 passed, 0 failed"
