#!/usr/bin/python3
"""An independent device (GUPnP 1.6): serves the DimmableLight description
in DIR (network-light-desc.xml with its SwitchPower and Dimming SCPDs) on an
interface, answers SwitchPower's SetTarget, GetTarget and GetStatus, and
announces Status changes to subscribers. Runs until standard input closes.

    gupnp_device.py IFACE DIR
"""
import os
import shutil
import sys
import tempfile

import gi

gi.require_version("GUPnP", "1.6")
from gi.repository import GLib, GUPnP  # noqa: E402

iface, source = sys.argv[1], sys.argv[2]
# GUPnP serves the description folder at "/": the SCPDs go where the
# description's SCPDURLs (/xml/...) point.
folder = tempfile.mkdtemp(prefix="gupnp-light-")
os.mkdir(os.path.join(folder, "xml"))
shutil.copy(os.path.join(source, "network-light-desc.xml"), folder)
for scpd in ("SwitchPower-scpd.xml", "Dimming-scpd.xml"):
    shutil.copy(os.path.join(source, scpd), os.path.join(folder, "xml"))
SWITCH = "urn:schemas-upnp-org:service:SwitchPower:1"
state = {"Target": False, "Status": False}

context = GUPnP.Context.new(iface, 0)
device = GUPnP.RootDevice.new(context, "network-light-desc.xml", folder)
device.set_available(True)
switch = device.get_service(SWITCH)


def on_set_target(service, action):
    value = action.get_value("newTargetValue", bool)
    state["Target"] = state["Status"] = value
    action.return_success()
    service.notify_value("Status", value)


def on_get(name, out):
    def handler(_service, action):
        action.set_value(out, state[name])
        action.return_success()
    return handler


def on_query(_service, variable, value):
    if variable in state:
        value.init(bool)
        value.set_boolean(state[variable])


switch.connect("action-invoked::SetTarget", on_set_target)
switch.connect("action-invoked::GetTarget", on_get("Target", "RetTargetValue"))
switch.connect("action-invoked::GetStatus", on_get("Status", "ResultStatus"))
switch.connect("query-variable", on_query)

loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin, GLib.IO_HUP | GLib.IO_IN, lambda *a: loop.quit() or False)
print("ready", device.get_location(), flush=True)
loop.run()
shutil.rmtree(folder, ignore_errors=True)
