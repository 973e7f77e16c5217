#!/usr/bin/python3
"""An independent control point for interop tests: GUPnP's ControlPoint
finds a SwitchPower:1 service by SSDP and exercises it.

Usage: gupnp_switch_cp.py [ADDRESS [UDN]]
Steps, each reported as one JSON object on a line of its own:
  {"found": LOCATION}
  {"action": NAME, "out": {...}} or {"action": NAME, "error": TEXT}
  {"query": VARIABLE, "value": TEXT}   (a QueryStateVariable POST of its own:
                                        GUPnP 1.6 has no call for it)
  {"subscribed": true}
  {"event": VARIABLE, "value": VALUE}
and "DONE" when every step ran. SetTarget 1, GetStatus, GetTarget, the
query of Status, the subscription (initial event), SetTarget 0 (the event
after the change). Exits 1 when the service is not found or an event does
not arrive within 10 seconds. The tests start it inside their private
network namespace only."""
import sys
import urllib.request

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GSSDP", "1.6")
from gi.repository import GLib, GObject, GUPnP  # noqa: E402
from gupnp_cp_run import query_request, run_control_point, say  # noqa: E402

SWITCH = "urn:schemas-upnp-org:service:SwitchPower:1"
WAIT_SECONDS = 10


def boolean(flag):
    value = GObject.Value(GObject.TYPE_BOOLEAN)
    value.set_boolean(flag)
    return value


def call(proxy, name, ins, outs):
    action = GUPnP.ServiceProxyAction.new_from_list(name, [n for n, _ in ins], [v for _, v in ins])
    try:
        proxy.call_action(action, None)
        ok, values = action.get_result_list([n for n, _ in outs], [t for _, t in outs])
        out = {n: str(v) for (n, _), v in zip(outs, values or [])}
        say({"action": name, "out": out})
    except GLib.Error as error:
        say({"action": name, "error": error.message, "code": error.code})


def query(proxy, variable):
    request = query_request(proxy, variable)
    text = urllib.request.urlopen(request, timeout=5).read().decode()
    start = text.index("<return>") + len("<return>")
    say({"query": variable, "value": text[start:text.index("</return>")]})


class Run:
    def __init__(self, loop, udn):
        self.loop = loop
        self.udn = udn
        self.proxy = None
        self.events = []
        self.ok = False

    def on_proxy(self, _cp, proxy):
        if self.proxy is not None or (self.udn and proxy.get_udn() != self.udn):
            return
        self.proxy = proxy
        say({"found": proxy.get_location()})
        call(proxy, "SetTarget", [("newTargetValue", boolean(True))], [])
        call(proxy, "GetStatus", [], [("ResultStatus", GObject.TYPE_BOOLEAN)])
        call(proxy, "GetTarget", [], [("RetTargetValue", GObject.TYPE_BOOLEAN)])
        query(proxy, "Status")
        proxy.add_notify("Status", GObject.TYPE_BOOLEAN, self.on_event, None)
        proxy.set_subscribed(True)
        say({"subscribed": proxy.get_subscribed()})

    def on_event(self, proxy, variable, value, _data=None):
        self.events.append(value)
        say({"event": variable, "value": value})
        if len(self.events) == 1:
            call(proxy, "SetTarget", [("newTargetValue", boolean(False))], [])
        elif len(self.events) == 2:
            self.ok = True
            proxy.set_subscribed(False)
            GLib.timeout_add(200, self.loop.quit)


def main():
    address = sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1"
    udn = sys.argv[2] if len(sys.argv) > 2 else ""
    return run_control_point(address, SWITCH, lambda loop: Run(loop, udn), WAIT_SECONDS)


if __name__ == "__main__":
    sys.exit(main())
