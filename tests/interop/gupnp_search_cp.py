#!/usr/bin/python3
"""An independent control point for interop tests: GUPnP's ControlPoint
searches for every device ("ssdp:all") on one address, then searches again
and again.

Usage: gupnp_search_cp.py ADDRESS RESCANS
Prints "DONE" after the last search. The tests start it inside their
private network namespace only."""
import sys

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GSSDP", "1.6")
from gi.repository import Gio, GLib, GSSDP, GUPnP  # noqa: E402

RESCAN_MS = 300


def main():
    context = GUPnP.Context.new_for_address(Gio.InetAddress.new_from_string(sys.argv[1]), 0,
                                            GSSDP.UDAVersion.VERSION_1_0)
    control_point = GUPnP.ControlPoint.new(context, "ssdp:all")
    control_point.set_active(True)
    loop = GLib.MainLoop()
    left = [int(sys.argv[2])]

    def rescan():
        if left[0] == 0:
            # Let the last search leave before the socket closes.
            GLib.timeout_add(RESCAN_MS, loop.quit)
            return False
        left[0] -= 1
        control_point.rescan()
        return True

    GLib.timeout_add(RESCAN_MS, rescan)
    loop.run()
    print("DONE", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
