#!/usr/bin/python3
"""An independent control point for interop tests: GUPnP's ControlPoint
finds every service of one device, introspects its SCPD, and subscribes to
the variables the introspection says are evented.

Usage: gupnp_introspect_cp.py ADDRESS UDN SERVICES
Lines, each a JSON object (sorted lists, so that tests compare them):
  {"service": TYPE, "evented": [NAMES]}     once per service introspected
  {"initial": {TYPE: [NAMES]}}              when every evented variable of
                                            all SERVICES services had its
                                            initial event
  {"event": NAME, "service": TYPE, "value": TEXT}  each later event
and "DONE" after the first later event. Exits 1 when that does not happen
within 15 seconds. The tests start it inside their private network
namespace only."""
import json
import sys

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GSSDP", "1.6")
from gi.repository import GLib, GObject  # noqa: E402
from gupnp_cp_run import run_control_point  # noqa: E402

WAIT_SECONDS = 15


def say(obj):
    print(obj if isinstance(obj, str) else json.dumps(obj, sort_keys=True), flush=True)


class Run:
    def __init__(self, loop, udn, services):
        self.loop = loop
        self.udn = udn
        self.services = services
        self.proxies = {}
        self.evented = {}   # service type -> names the introspection marks evented
        self.heard = {}     # service type -> names whose initial event arrived
        self.initial_done = False
        self.ok = False

    def on_proxy(self, _cp, proxy):
        kind = proxy.get_service_type()
        if proxy.get_udn() != self.udn or kind in self.proxies:
            return
        self.proxies[kind] = proxy
        proxy.introspect_async(None, self.on_introspection, None)

    def on_introspection(self, proxy, result, _data=None):
        kind = proxy.get_service_type()
        info = proxy.introspect_finish(result)
        names = sorted(v.name for v in info.list_state_variables() if v.send_events)
        self.evented[kind] = names
        self.heard[kind] = set()
        say({"service": kind, "evented": names})
        for name in names:
            proxy.add_notify(name, GObject.TYPE_STRING, self.on_event, None)
        if names:
            proxy.set_subscribed(True)
        self.check_initial()

    def check_initial(self):
        if self.initial_done or len(self.evented) < self.services:
            return
        if any(set(names) != self.heard[kind] for kind, names in self.evented.items()):
            return
        self.initial_done = True
        say({"initial": {kind: sorted(heard) for kind, heard in self.heard.items()}})

    def on_event(self, proxy, variable, value, _data=None):
        kind = proxy.get_service_type()
        if not self.initial_done:
            self.heard[kind].add(variable)
            self.check_initial()
            return
        say({"event": variable, "service": kind, "value": value})
        self.ok = True
        for p in self.proxies.values():
            p.set_subscribed(False)
        GLib.timeout_add(200, self.loop.quit)


def main():
    return run_control_point(sys.argv[1], "ssdp:all", lambda loop: Run(loop, sys.argv[2], int(sys.argv[3])),
                             WAIT_SECONDS)


if __name__ == "__main__":
    sys.exit(main())
