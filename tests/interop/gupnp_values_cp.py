#!/usr/bin/python3
"""An independent control point for interop tests: GUPnP's ControlPoint
finds one service of a device and reports what it answers.

Usage: gupnp_values_cp.py ADDRESS UDN SERVICE_TYPE CALL...
A CALL is ACTION>OUT[,OUT...] (an action without in-arguments, sent by
GUPnP's ServiceProxy, whose out-arguments are read as strings), ?VARIABLE
(a QueryStateVariable POST of its own: GUPnP 1.6 has no call for it) or
@PATH (a GET of PATH on the device's host and port). One JSON line per call:
  {"call": CALL, "out": {OUT: TEXT, ...}}   or {"call": CALL, "code": CODE}
  {"call": CALL, "value": TEXT}
  {"call": CALL, "status": STATUS, "body": TEXT}
and "DONE" at the end. Exits 1 when the service is not found within 10
seconds. The tests start it inside their private network namespace only."""
import sys
import urllib.error
import urllib.parse
import urllib.request

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GSSDP", "1.6")
from gi.repository import GLib, GObject, GUPnP  # noqa: E402
from gupnp_cp_run import query_request, run_control_point, say  # noqa: E402

WAIT_SECONDS = 10


def action(proxy, text):
    name, _, rest = text.partition(">")
    outs = rest.split(",") if rest else []
    call = GUPnP.ServiceProxyAction.new_from_list(name, [], [])
    try:
        proxy.call_action(call, None)
        _ok, values = call.get_result_list(outs, [GObject.TYPE_STRING] * len(outs))
        say({"call": text, "out": dict(zip(outs, values or []))})
    except GLib.Error as error:
        say({"call": text, "code": error.code})


def query(proxy, text):
    request = query_request(proxy, text[1:])
    answer = urllib.request.urlopen(request, timeout=5).read().decode()
    start = answer.index("<return>") + len("<return>")
    say({"call": text, "value": answer[start:answer.index("</return>")]})


def fetch(proxy, text):
    url = urllib.parse.urljoin(proxy.get_location(), text[1:])
    try:
        with urllib.request.urlopen(url, timeout=5) as answer:
            say({"call": text, "status": answer.status, "body": answer.read().decode(errors="replace")})
    except urllib.error.HTTPError as error:
        say({"call": text, "status": error.code, "body": ""})


class Run:
    def __init__(self, loop, udn, service, calls):
        self.loop = loop
        self.udn = udn
        self.service = service
        self.calls = calls
        self.ok = False

    def on_proxy(self, _cp, proxy):
        if self.ok or proxy.get_udn() != self.udn or proxy.get_service_type() != self.service:
            return
        self.ok = True
        for text in self.calls:
            {"?": query, "@": fetch}.get(text[0], action)(proxy, text)
        GLib.idle_add(self.loop.quit)


def main():
    return run_control_point(sys.argv[1], "ssdp:all",
                             lambda loop: Run(loop, sys.argv[2], sys.argv[3], sys.argv[4:]), WAIT_SECONDS)


if __name__ == "__main__":
    sys.exit(main())
