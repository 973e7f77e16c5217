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
import ctypes
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

ACTIONS = {
    SWITCH: ("SetTarget", "GetTarget", "GetStatus"),
    DIMMING: ("SetLoadLevelTarget", "GetLoadLevelTarget", "GetLoadLevelStatus"),
}

state = {"Target": False, "Status": False, "LoadLevelTarget": 0, "LoadLevelStatus": 0}


def say(text):
    print(text, flush=True)


def boolean(flag):
    value = GObject.Value(GObject.TYPE_BOOLEAN)
    value.set_boolean(flag)
    return value


# Load levels travel as unsigned integers: GUPnP would write a uchar GValue
# (its type for ui1) as the character it holds, not as digits.
def uint(number):
    value = GObject.Value(GObject.TYPE_UINT)
    value.set_uint(number)
    return value


def on_action(service, action):
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
    elif name in ("GetLoadLevelTarget", "GetLoadLevelStatus"):
        say("ACTION " + name)
        out = "retLoadlevelTarget" if name == "GetLoadLevelTarget" else "retLoadlevelStatus"
        action.set_value(out, uint(state["LoadLevelTarget" if name == "GetLoadLevelTarget" else "LoadLevelStatus"]))
        action.return_success()
    elif name == "SetLoadLevelTarget":
        level = int(action.get_value("newLoadlevelTarget", GObject.TYPE_UINT))
        state["LoadLevelTarget"] = state["LoadLevelStatus"] = level
        say("ACTION SetLoadLevelTarget newLoadlevelTarget=%d" % level)
        action.return_success()
        service.notify_value("LoadLevelStatus", uint(level))
    else:
        say("ACTION %s refused" % name)
        action.return_error(401, "Invalid Action")


# GUPnP asks for a variable's value ("query-variable", for QueryStateVariable
# and for the initial event) with an uninitialised GValue, which PyGObject
# cannot hand to Python ("unknown type (null)"). The handler is therefore
# connected at the C level through ctypes and fills the GValue itself.
_gobject = ctypes.CDLL("libgobject-2.0.so.0")
_gobject.g_signal_connect_data.restype = ctypes.c_ulong
_gobject.g_signal_connect_data.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p,
                                           ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
_gobject.g_value_init.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
_gobject.g_value_set_boolean.argtypes = [ctypes.c_void_p, ctypes.c_int]
_gobject.g_value_set_uint.argtypes = [ctypes.c_void_p, ctypes.c_uint]
ctypes.pythonapi.PyCapsule_GetPointer.restype = ctypes.c_void_p
ctypes.pythonapi.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
# Fundamental GTypes (GLib's gtype.h: G_TYPE_MAKE_FUNDAMENTAL(n) is n << 2).
G_TYPE_BOOLEAN = 5 << 2
G_TYPE_UINT = 7 << 2
QUERY_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_void_p)


def on_query(_service, variable, value, _data):
    name = variable.decode()
    say("QUERY " + name)
    current = state.get(name)
    if isinstance(current, bool):
        _gobject.g_value_init(value, G_TYPE_BOOLEAN)
        _gobject.g_value_set_boolean(value, int(current))
    elif current is not None:
        _gobject.g_value_init(value, G_TYPE_UINT)
        _gobject.g_value_set_uint(value, current)
    # an unknown variable leaves the value unset: GUPnP answers 402


query_callback = QUERY_CALLBACK(on_query)


def connect_query(service):
    pointer = ctypes.pythonapi.PyCapsule_GetPointer(service.__gpointer__, None)
    _gobject.g_signal_connect_data(pointer, b"query-variable", ctypes.cast(query_callback, ctypes.c_void_p),
                                   None, None, 0)


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


def open_context(argv):
    """DESC_DIR [ADDRESS] of the command line: the folder, and a UDA 1.0
    context on the address (127.0.0.1 by default)."""
    address = Gio.InetAddress.new_from_string(argv[2] if len(argv) > 2 else "127.0.0.1")
    return argv[1], GUPnP.Context.new_for_address(address, 0, GSSDP.UDAVersion.VERSION_1_0)


def serve_until_terminated(folder):
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    loop.run()
    shutil.rmtree(folder, ignore_errors=True)


def main():
    desc_dir, context = open_context(sys.argv)
    folder = publish(desc_dir)
    root = GUPnP.RootDevice.new(context, "network-light-desc.xml", folder)
    services = []
    for service_type in (SWITCH, DIMMING):
        service = root.get_service(service_type)
        # GUPnP answers 401 unless a handler is connected for the action
        # by name (a handler without detail is not asked).
        for action in ACTIONS[service_type]:
            service.connect("action-invoked::" + action, on_action)
        connect_query(service)
        services.append(service)
    root.set_available(True)
    say("READY " + root.get_location())
    serve_until_terminated(folder)


if __name__ == "__main__":
    main()
