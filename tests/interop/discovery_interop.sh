#!/usr/bin/env bash
# Discovery against software nobody here wrote, inside a private network:
#  1. an independent control point (GUPnP) finds the example BinaryLight of
#     the stack, reads its description and lists its services;
#  2. the stack's control point (qnsdk discover) finds and describes an
#     independent GUPnP device (the DimmableLight) and a real media server
#     (minidlna), with every SCPD.
#   discovery_interop.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 src=$2
if [ "${QN_PRIVATE_NETNS:-}" != 1 ]; then
  exec "$src/tools/netns-run" bash "$0" "$@" || exit 77
fi
py=/usr/bin/python3
work=$(mktemp -d)
pids=()
# The peers run until their input closes: a fifo this script holds open.
mkfifo "$work/hold"
exec 3<>"$work/hold"
cleanup() {
  exec 3>&-
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# 1. GUPnP finds the stack's device.
"$build/examples/light" --dir "$src/examples/binarylight" --addr 127.0.0.1 <"$work/hold" >"$work/light.log" 2>&1 &
pids+=($!)
"$py" "$src/tests/interop/gupnp_cp.py" lo urn:schemas-upnp-org:device:BinaryLight:1 6 >"$work/gupnp_cp.json" 2>/dev/null ||
  fail "GUPnP did not find the BinaryLight"
"$py" - "$work/gupnp_cp.json" <<'PY'
import json, sys
dev = json.loads(open(sys.argv[1]).readline())
assert dev["udn"] == "uuid:6a1e5c7e-3b0f-4c8e-9d41-0c1b2a3d4e5f", dev
assert dev["location"] == "http://127.0.0.1:30909/BinaryLight.xml", dev
assert dev["friendlyName"] == "qnsdk Binary Light", dev
assert dev["services"] == ["urn:schemas-upnp-org:service:SwitchPower:1"], dev
PY
echo "ok: GUPnP control point found and described the stack's BinaryLight"

# 2. The stack finds the GUPnP device and minidlna.
"$py" "$src/tests/interop/gupnp_device.py" lo "$src/tests/data/fixtures/devices/network-light" \
  <"$work/hold" >"$work/gupnp_dev.log" 2>&1 &
pids+=($!)
mkdir -p "$work/media" "$work/db"
echo hello >"$work/media/hello.txt"
cat >"$work/minidlna.conf" <<EOC
network_interface=lo
port=8200
media_dir=$work/media
db_dir=$work/db
log_dir=$work
friendly_name=Peer MiniDLNA
inotify=no
EOC
minidlnad -f "$work/minidlna.conf" -P "$work/minidlna.pid" -S </dev/null >"$work/minidlna.out" 2>&1 &
pids+=($!)
sleep 2
# The search goes out a second after the start and asks for answers within
# 3 s (MX); devices of the stack spread theirs over that time.
"$build/tools/qnsdk" discover --addr 127.0.0.1 --timeout 5 --json >"$work/found.json" ||
  fail "qnsdk discover failed"
"$py" - "$work/found.json" <<'PY'
import json, sys
found = {d["deviceType"]: d for d in map(json.loads, open(sys.argv[1]))}
def actions(dev, service):
    for s in dev["services"]:
        if s["serviceType"] == service:
            return {a["name"] for a in s["actions"]}
    raise AssertionError(f"{service} missing in {dev['friendlyName']}")
light = found["urn:schemas-upnp-org:device:DimmableLight:1"]
assert light["udn"] == "uuid:23b0189c-549f-11dc-a7c7-001641597c49", light
assert {"SetTarget", "GetTarget", "GetStatus"} <= actions(light, "urn:schemas-upnp-org:service:SwitchPower:1")
assert "SetLoadLevelTarget" in actions(light, "urn:schemas-upnp-org:service:Dimming:1")
server = found["urn:schemas-upnp-org:device:MediaServer:1"]
assert server["friendlyName"] == "Peer MiniDLNA", server
assert server["location"] == "http://127.0.0.1:8200/rootDesc.xml", server
assert {"Browse", "GetSystemUpdateID"} <= actions(server, "urn:schemas-upnp-org:service:ContentDirectory:1")
assert "GetProtocolInfo" in actions(server, "urn:schemas-upnp-org:service:ConnectionManager:1")
variables = [v["name"] for s in server["services"] for v in s["variables"]]
assert "SystemUpdateID" in variables, variables
assert "urn:schemas-upnp-org:device:BinaryLight:1" in found, found.keys()
PY
echo "ok: the stack's control point described the GUPnP light, minidlna and the BinaryLight"
echo "1 passed, 0 failed"
