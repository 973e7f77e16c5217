#!/usr/bin/env bash
# Runs inside tools/netns-run: the light example serves its documents and
# answers SOAP control; curl fetches the documents and calls the actions. The first light (default directory and port) is ended
# by closing its standard input, the second (--dir, --port) by SIGTERM; both
# must exit 0.
#   serve_light.sh LIGHT DOC_DIR TMP
set -euo pipefail
light=$1 docs=$2 tmp=$3
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true' EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "$tmp"/light*.log; do [ ! -e "$log" ] || { echo "--- $log"; cat "$log"; } >&2; done
  exit 1
}

# One SOAP request to the SwitchPower control URL; the answer's body on stdout.
soap() {
  local port=$1 soapAction=$2 body=$3
  curl -s --max-time 5 -H 'Content-Type: text/xml; charset="utf-8"' -H "SOAPAction: \"$soapAction\"" \
    --data "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>$body</s:Body></s:Envelope>" \
    "http://127.0.0.1:$port/SwitchPower/control"
}
action() {
  local service=urn:schemas-upnp-org:service:SwitchPower:1
  soap "$1" "$service#$2" "<u:$2 xmlns:u=\"$service\">$3</u:$2>"
}
query() {
  local control=urn:schemas-upnp-org:control-1-0
  soap "$1" "$control#QueryStateVariable" \
    "<u:QueryStateVariable xmlns:u=\"$control\"><u:varName>$2</u:varName></u:QueryStateVariable>"
}
expectIn() {
  grep -qF -- "$1" <<<"$2" || fail "expected $1 in: $2"
}

# The light's handler: switching on, reading back, refusing what is not a boolean.
checkControl() {
  local port=$1
  expectIn "<ResultStatus>0</ResultStatus>" "$(action "$port" GetStatus "")"
  expectIn "SetTargetResponse" "$(action "$port" SetTarget "<newTargetValue>1</newTargetValue>")"
  expectIn "<ResultStatus>1</ResultStatus>" "$(action "$port" GetStatus "")"
  expectIn "<RetTargetValue>1</RetTargetValue>" "$(action "$port" GetTarget "")"
  expectIn "<return>1</return>" "$(query "$port" Target)"
  expectIn "<errorCode>" "$(action "$port" SetTarget "<newTargetValue>dim</newTargetValue>")"
  expectIn "<errorCode>" "$(query "$port" Brightness)"
}

# The light needs a moment to start serving.
fetch() {
  for _ in $(seq 100); do
    if curl -sf --max-time 5 -o "$2" "$1"; then return 0; fi
    sleep 0.1
  done
  fail "no answer from $1"
}

checkDocuments() {
  local base=$1
  fetch "$base/BinaryLight.xml" "$tmp/desc.xml"
  grep -qF '<UDN>uuid:6a1e5c7e-3b0f-4c8e-9d41-0c1b2a3d4e5f</UDN>' "$tmp/desc.xml" || fail "description: $(cat "$tmp/desc.xml")"
  grep -qF '<SCPDURL>/SwitchPower.xml</SCPDURL>' "$tmp/desc.xml" || fail "description without its SCPDURL"
  fetch "$base/SwitchPower.xml" "$tmp/scpd.xml"
  grep -qF '<name>SetTarget</name>' "$tmp/scpd.xml" || fail "SCPD: $(cat "$tmp/scpd.xml")"
  grep -qF '<name>Status</name>' "$tmp/scpd.xml" || fail "SCPD without Status"
  if command -v xmllint >/dev/null; then
    xmllint --noout "$tmp/desc.xml" "$tmp/scpd.xml" || fail "served documents are not well-formed"
  fi
}

mkfifo "$tmp/stdin"
"$light" <"$tmp/stdin" >"$tmp/light1.log" 2>&1 &
pid=$!
exec 3>"$tmp/stdin"
checkDocuments http://127.0.0.1:30909
checkControl 30909
exec 3>&-
wait "$pid" || fail "the light exited with $? when its input was closed"
pid=""
grep -q "standard input closed" "$tmp/light1.log" || fail "the light did not see its input close"

mkdir "$tmp/docs"
cp "$docs/BinaryLight.xml" "$docs/SwitchPower.xml" "$tmp/docs/"
"$light" --dir "$tmp/docs" --port 30910 </dev/null >"$tmp/light2.log" 2>&1 &
pid=$!
checkDocuments http://127.0.0.1:30910
kill -TERM "$pid"
wait "$pid" || fail "the light exited with $? on SIGTERM"
pid=""
grep -q "signal 15" "$tmp/light2.log" || fail "the light did not report SIGTERM"
