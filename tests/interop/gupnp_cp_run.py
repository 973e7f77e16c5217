"""What the GUPnP control-point scripts share: one control point of GUPnP
1.6 on an address, for one search target, whose service proxies go to a run
of the script's own; its end is reported as "DONE" and the exit status."""
import json
import urllib.request

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GSSDP", "1.6")
from gi.repository import Gio, GLib, GSSDP, GUPnP  # noqa: E402


def say(obj):
    print(obj if isinstance(obj, str) else json.dumps(obj), flush=True)


def query_request(proxy, variable):
    """A QueryStateVariable request for the proxy's control URL (GUPnP 1.6
    has no call of its own for it)."""
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
            '<u:QueryStateVariable xmlns:u="urn:schemas-upnp-org:control-1-0"><u:varName>%s</u:varName>'
            '</u:QueryStateVariable></s:Body></s:Envelope>' % variable)
    return urllib.request.Request(proxy.get_control_url(), data=body.encode(), method="POST", headers={
        "Content-Type": 'text/xml; charset="utf-8"',
        "SOAPACTION": '"urn:schemas-upnp-org:control-1-0#QueryStateVariable"'})


def run_control_point(address, target, make_run, seconds):
    """make_run(loop) gives an object with on_proxy(control_point, proxy)
    and ok; the loop runs until the run quits it or the seconds pass."""
    context = GUPnP.Context.new_for_address(Gio.InetAddress.new_from_string(address), 0,
                                            GSSDP.UDAVersion.VERSION_1_0)
    loop = GLib.MainLoop()
    run = make_run(loop)
    control_point = GUPnP.ControlPoint.new(context, target)
    control_point.connect("service-proxy-available", run.on_proxy)
    control_point.set_active(True)
    GLib.timeout_add_seconds(seconds, loop.quit)
    loop.run()
    if run.ok:
        say("DONE")
    return 0 if run.ok else 1
