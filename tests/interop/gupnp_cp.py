#!/usr/bin/python3
"""An independent control point (GUPnP 1.6): finds devices on an interface
and prints, for each root device of the wanted type, one JSON line with its
UDN, location and services. Used by the interop tests.

    gupnp_cp.py IFACE DEVICE_TYPE [TIMEOUT]
"""
import json
import sys

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GSSDP", "1.6")
from gi.repository import GLib, GUPnP  # noqa: E402

iface, wanted = sys.argv[1], sys.argv[2]
timeout = int(sys.argv[3]) if len(sys.argv) > 3 else 6

loop = GLib.MainLoop()
context = GUPnP.Context.new(iface, 0)
cp = GUPnP.ControlPoint.new(context, wanted)
found = {}


def on_available(_cp, proxy):
    udn = proxy.get_udn()
    if udn in found:
        return
    found[udn] = {
        "udn": udn,
        "location": proxy.get_location(),
        "deviceType": proxy.get_device_type(),
        "friendlyName": proxy.get_friendly_name(),
        "services": sorted(s.get_service_type() for s in proxy.list_services()),
    }
    print(json.dumps(found[udn]), flush=True)


cp.connect("device-proxy-available", on_available)
cp.set_active(True)
GLib.timeout_add_seconds(timeout, loop.quit)
loop.run()
sys.exit(0 if found else 1)
