#!/usr/bin/python3
"""Checks that a served document is namespace-valid UDA XML: an XPath query
in the UDA namespace finds its elements. Prints what it found, one line.

    udaNamespaces.py desc FILE    -> the device types, space-separated
    udaNamespaces.py scpd FILE    -> "<actions> <variables> <not evented>"
"""
import sys
import xml.etree.ElementTree as ET

DEVICE = {"d": "urn:schemas-upnp-org:device-1-0"}
SERVICE = {"s": "urn:schemas-upnp-org:service-1-0"}

kind, path = sys.argv[1], sys.argv[2]
root = ET.parse(path).getroot()
if kind == "desc":
    assert root.tag == "{urn:schemas-upnp-org:device-1-0}root", root.tag
    types = [t.text for t in root.findall(".//d:device/d:deviceType", DEVICE)]
    assert root.find("./d:device/d:UDN", DEVICE) is not None
    print(" ".join(types))
else:
    assert root.tag == "{urn:schemas-upnp-org:service-1-0}scpd", root.tag
    actions = root.findall("./s:actionList/s:action/s:name", SERVICE)
    variables = root.findall("./s:serviceStateTable/s:stateVariable", SERVICE)
    quiet = [v for v in variables if v.get("sendEvents") == "no"]
    print(len(actions), len(variables), len(quiet))
