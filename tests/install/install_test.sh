#!/usr/bin/env bash
# The library as a user gets it. Installs the build into a temporary prefix
# and uses it from there: pkg-config, both examples compiled as C99 with
# warnings as errors (examples/Makefile), the control point example and the
# installed qnsdk on the BinaryLight documents, and the light example served
# inside a private network namespace and read back with curl.
#   install_test.sh BUILD_DIR SOURCE_DIR [SANITIZERS]
# Exit status 77 (skipped) when no private network namespace can be made;
# everything before the light has run by then.
set -euo pipefail
build=$1 src=$2 sanitize=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

step "install into $tmp/prefix"
cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }
pc=$(find "$tmp/prefix" -name qnsdk.pc)
[ -n "$pc" ] || fail "no qnsdk.pc installed"
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir qnsdk)
includedir=$(pkg-config --variable=includedir qnsdk)
[ -f "$includedir/qnSdkApi.h" ] || fail "qnsdk.pc names $includedir, which has no qnSdkApi.h"
[ -e "$libdir/libqnsdk.so" ] || fail "qnsdk.pc names $libdir, which has no libqnsdk.so"
[ -x "$tmp/prefix/bin/qnsdk" ] || fail "qnsdk not installed in bin"
[ -x "$tmp/prefix/bin/lumivar-headless" ] || fail "lumivar-headless not installed in bin"

step "a C program needs no C++ flags: the shared library brings its own runtime"
if pkg-config --libs qnsdk | grep -q stdc++; then fail "pkg-config --libs names the C++ runtime"; fi
# It carries the C++ runtime it uses (sanitizer builds load the shared one).
if [ -z "$sanitize" ] && readelf -d "$libdir/libqnsdk.so" | grep -q 'NEEDED.*libstdc++'; then
  fail "libqnsdk.so loads libstdc++: every C program would pay for it"
fi

step "compile the examples against the installed library"
flags="-O1 -Werror"
[ -z "$sanitize" ] || flags+=" -fsanitize=$sanitize -fno-omit-frame-pointer"
make -f "$src/examples/Makefile" OUT="$tmp/bin" CFLAGS="$flags" || fail "examples do not build"
for program in light ctrlpoint; do
  ldd "$tmp/bin/$program" | grep 'libqnsdk\.so' | grep -qF "$tmp/prefix" ||
    fail "$program does not load the installed libqnsdk.so"
done

step "ctrlpoint prints the BinaryLight tree"
"$tmp/bin/ctrlpoint" "$src/examples/binarylight/BinaryLight.xml" >"$tmp/ctrlpoint.out" || fail "ctrlpoint failed"
while IFS= read -r line; do
  grep -qxF -- "$line" "$tmp/ctrlpoint.out" || { cat "$tmp/ctrlpoint.out"; fail "ctrlpoint did not print: $line"; }
done <<'LINES'
device urn:schemas-upnp-org:device:BinaryLight:1 "qnsdk Binary Light"
  service urn:schemas-upnp-org:service:SwitchPower:1
    action SetTarget(in newTargetValue)
    action GetTarget(out RetTargetValue)
    action GetStatus(out ResultStatus)
    variable Target
    variable Status (evented)
LINES

step "the installed qnsdk describes BinaryLight.xml"
"$tmp/prefix/bin/qnsdk" describe "$src/examples/binarylight/BinaryLight.xml" >"$tmp/describe.json" || fail "qnsdk describe"
python3 - "$tmp/describe.json" <<'PY' || fail "unexpected qnsdk describe output"
import json, sys
model = json.load(open(sys.argv[1]))
assert model["deviceType"] == "urn:schemas-upnp-org:device:BinaryLight:1", model
assert [a["name"] for a in model["services"][0]["actions"]] == ["SetTarget", "GetTarget", "GetStatus"], model
PY

step "the light, inside a private network namespace"
if ! "$src/tools/netns-run" true 2>/dev/null; then
  echo "SKIPPED: no private network namespace can be made here; the light was not run"
  exit 77
fi
command -v curl >/dev/null || fail "curl is missing: run tools/install-deps"
"$src/tools/netns-run" bash "$src/tests/install/serve_light.sh" "$tmp/bin/light" "$src/examples/binarylight" "$tmp"
echo "PASS"
