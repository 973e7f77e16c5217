#!/usr/bin/python3
"""An independent control point for interop tests: GUPnP's ControlPoint
finds one service of a device and makes the calls it is given, in order.

Usage: gupnp_calls_cp.py ADDRESS UDN SERVICE_TYPE CALL...
A CALL is ACTION[:NAME=VALUE[,NAME=VALUE...]] (string in-arguments, sent by
GUPnP's ServiceProxy) or ?VARIABLE (a QueryStateVariable POST of its own:
GUPnP 1.6 has no call for it). One JSON line per call:
  {"call": CALL, "ok": true} or {"call": CALL, "code": UPNP_ERROR_CODE}
and "DONE" at the end. Exits 1 when the service is not found within 10
seconds. The tests start it inside their private network namespace only."""
import re
import sys
import urllib.error
import urllib.request

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GSSDP", "1.6")
from gi.repository import GLib, GObject, GUPnP  # noqa: E402
from gupnp_cp_run import query_request, run_control_point, say  # noqa: E402

WAIT_SECONDS = 10


def string(text):
    value = GObject.Value(GObject.TYPE_STRING)
    value.set_string(text)
    return value


def call(proxy, text):
    name, _, rest = text.partition(":")
    ins = [pair.split("=", 1) for pair in rest.split(",")] if rest else []
    action = GUPnP.ServiceProxyAction.new_from_list(name, [n for n, _ in ins], [string(v) for _, v in ins])
    try:
        proxy.call_action(action, None)
        action.get_result_list([], [])
        say({"call": text, "ok": True})
    except GLib.Error as error:
        say({"call": text, "code": error.code})


def query(proxy, text):
    request = query_request(proxy, text[1:])
    try:
        urllib.request.urlopen(request, timeout=5).read()
        say({"call": text, "ok": True})
    except urllib.error.HTTPError as error:
        code = re.search(r"<errorCode>(\d+)</errorCode>", error.read().decode())
        say({"call": text, "code": int(code.group(1)) if code else None})


class Run:
    def __init__(self, loop, udn, calls):
        self.loop = loop
        self.udn = udn
        self.calls = calls
        self.ok = False

    def on_proxy(self, _cp, proxy):
        if self.ok or proxy.get_udn() != self.udn:
            return
        self.ok = True
        for text in self.calls:
            (query if text.startswith("?") else call)(proxy, text)
        GLib.idle_add(self.loop.quit)


def main():
    return run_control_point(sys.argv[1], sys.argv[3], lambda loop: Run(loop, sys.argv[2], sys.argv[4:]),
                             WAIT_SECONDS)


if __name__ == "__main__":
    sys.exit(main())
