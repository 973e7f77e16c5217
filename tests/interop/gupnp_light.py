#!/usr/bin/python3
"""An independent UPnP device for interop tests: GUPnP's RootDevice serving
the network-light description (DimmableLight:1 with SwitchPower:1 and
Dimming:1), its actions answered from signal handlers.

Usage: gupnp_light.py DESC_DIR [ADDRESS]
Prints "READY <description URL>" on stdout once it is announced, then one
line per request it serves ("ACTION name arg=value", "QUERY variable").
SetTarget changes Status, which GUPnP then sends to every subscriber as an
event. Runs until it is terminated. The tests start it inside their private
network namespace only."""
import os
import shutil
import signal
import sys
import tempfile

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GSSDP", "1.6")
from gi.repository import Gio, GLib, GObject, GSSDP, GUPnP  # noqa: E402

SWITCH = "urn:schemas-upnp-org:service:SwitchPower:1"
DIMMING = "urn:schemas-upnp-org:service:Dimming:1"

state = {"Target": False, "Status": False, "LoadLevelTarget": 0, "LoadLevelStatus": 0}


def say(text):
    print(text, flush=True)


def boolean(flag):
    value = GObject.Value(GObject.TYPE_BOOLEAN)
    value.set_boolean(flag)
    return value


def uchar(number):
    value = GObject.Value(GObject.TYPE_UCHAR)
    value.set_uchar(number)
    return value


def on_action(service, action):
    say("ENTER")
    name = action.get_name()
    if name == "SetTarget":
        flag = bool(action.get_value("newTargetValue", GObject.TYPE_BOOLEAN))
        state["Target"] = state["Status"] = flag
        say("ACTION SetTarget newTargetValue=%d" % int(flag))
        action.return_success()
        service.notify_value("Status", boolean(flag))
    elif name in ("GetTarget", "GetStatus"):
        say("ACTION " + name)
        out = "RetTargetValue" if name == "GetTarget" else "ResultStatus"
        action.set_value(out, boolean(state["Target" if name == "GetTarget" else "Status"]))
        action.return_success()
    elif name == "SetLoadLevelTarget":
        level = int(action.get_value("newLoadlevelTarget", GObject.TYPE_UCHAR))
        state["LoadLevelTarget"] = state["LoadLevelStatus"] = level
        say("ACTION SetLoadLevelTarget newLoadlevelTarget=%d" % level)
        action.return_success()
        service.notify_value("LoadLevelStatus", uchar(level))
    else:
        say("ACTION %s refused" % name)
        action.return_error(401, "Invalid Action")


def on_query(service, variable, value):
    # GUPnP hands in the value initialised with the variable's SCPD type.
    say("QUERY " + variable)
    current = state.get(variable, False)
    if isinstance(current, bool):
        value.set_boolean(current)
    else:
        value.set_uchar(current)


def publish(desc_dir):
    """The description and SCPDs laid out as their URLs name them: the
    description at the top, the SCPDs under xml/ (GUPnP serves the folder
    at the root of its web server)."""
    folder = tempfile.mkdtemp(prefix="gupnp-light-")
    os.mkdir(os.path.join(folder, "xml"))
    shutil.copy(os.path.join(desc_dir, "network-light-desc.xml"), folder)
    for scpd in ("SwitchPower-scpd.xml", "Dimming-scpd.xml"):
        shutil.copy(os.path.join(desc_dir, scpd), os.path.join(folder, "xml"))
    return folder


def main():
    desc_dir = sys.argv[1]
    address = Gio.InetAddress.new_from_string(sys.argv[2] if len(sys.argv) > 2 else "127.0.0.1")
    context = GUPnP.Context.new_for_address(address, 0, GSSDP.UDAVersion.VERSION_1_0)
    folder = publish(desc_dir)
    root = GUPnP.RootDevice.new(context, "network-light-desc.xml", folder)
    services = []
    for service_type in (SWITCH, DIMMING):
        service = root.get_service(service_type)
        service.connect("action-invoked", on_action)
        #service.connect("query-variable", on_query)
        services.append(service)
    root.set_available(True)
    say("READY " + root.get_location())
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    loop.run()
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
