#!/usr/bin/env python3
"""qnsdk describe on real description folders.

Each document's expected model is read independently with ElementTree and
compared with the tool's JSON, under the rules of the stack's queries:
devices and services are addressed by type and actions by name alone, so a
repeated type shows the first one's contents and an action the arguments of
the first action of its name. Spot checks name what a reader would look for,
and the failure cases check that stdout stays empty while the stack's reason
reaches stderr.

usage: qnsdk_describe_test.py QNSDK SOURCE_DIR [unittest args]
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

QNSDK = None
SOURCE = None

DEV_NS = "{urn:schemas-upnp-org:device-1-0}"
SCPD_NS = "{urn:schemas-upnp-org:service-1-0}"
DIRECTIONS = {"in": "in", "out": "out", "inout": "inout"}


def run(*args, cwd=None):
    return subprocess.run([QNSDK, *args], cwd=cwd, capture_output=True, timeout=30)


def leaf(elem, name, ns):
    child = elem.find(ns + name)
    return None if child is None else (child.text or "")


def read_scpd(path):
    root = ET.parse(path).getroot()
    actions = []
    for action in root.iter(SCPD_NS + "action"):
        args = [{"name": leaf(a, "name", SCPD_NS),
                 "direction": DIRECTIONS.get(leaf(a, "direction", SCPD_NS), "unknown")}
                for a in action.iter(SCPD_NS + "argument")]
        actions.append({"name": leaf(action, "name", SCPD_NS), "args": args})
    variables = [{"name": leaf(v, "name", SCPD_NS),
                  "sendEvents": v.get("sendEvents", "yes") != "no"}
                 for v in root.iter(SCPD_NS + "stateVariable")]
    return actions, variables


def read_device(elem, folder):
    services = []
    for s in elem.findall(DEV_NS + "serviceList/" + DEV_NS + "service"):
        url = leaf(s, "SCPDURL", DEV_NS)
        scpd = url.replace("\\", "/").rsplit("/", 1)[-1]
        actions, variables = read_scpd(os.path.join(folder, scpd))
        services.append({"serviceType": leaf(s, "serviceType", DEV_NS), "SCPDURL": url,
                         "controlURL": leaf(s, "controlURL", DEV_NS),
                         "eventSubURL": leaf(s, "eventSubURL", DEV_NS),
                         "actions": actions, "variables": variables})
    return {"udn": leaf(elem, "UDN", DEV_NS), "deviceType": leaf(elem, "deviceType", DEV_NS),
            "friendlyName": leaf(elem, "friendlyName", DEV_NS), "services": services,
            "devices": [read_device(d, folder)
                        for d in elem.findall(DEV_NS + "deviceList/" + DEV_NS + "device")]}


def depth_first(device):
    yield device
    for d in device["devices"]:
        yield from depth_first(d)


def addressed_by_type(root):
    """The document as the queries show it: every device and service by the
    first of its type in depth-first order, every action by the first of its
    name."""
    first_dev, first_serv, first_action = {}, {}, {}
    for d in depth_first(root):
        first_dev.setdefault(d["deviceType"], d)
        for s in d["services"]:
            first_serv.setdefault(s["serviceType"], s)
            for a in s["actions"]:
                first_action.setdefault(a["name"], a["args"])

    def service(s):
        s = first_serv[s["serviceType"]]
        return {**s, "actions": [{"name": a["name"], "args": first_action[a["name"]]}
                                 for a in s["actions"]]}

    def device(d, is_root):
        if not is_root:
            d = first_dev[d["deviceType"]]
        return {**d, "services": [service(s) for s in d["services"]],
                "devices": [device(e, False) for e in d["devices"]]}

    return device(root, True)


def expected_model(path):
    root = ET.parse(path).getroot()
    model = read_device(root.find(DEV_NS + "device"), os.path.dirname(path))
    return {"location": path, **addressed_by_type(model)}


def describe(path, cwd=None):
    result = run("describe", path, cwd=cwd)
    if result.returncode != 0:
        raise AssertionError("qnsdk describe %s: status %d\n%s" % (path, result.returncode,
                                                                   result.stderr.decode(errors="replace")))
    out = result.stdout.decode("utf-8")
    if not out.endswith("\n") or out.count("\n") != 1:
        raise AssertionError("not one line: %r" % out[:200])
    if result.stderr:
        raise AssertionError("stderr on success: %r" % result.stderr)
    return json.loads(out)


def data(*parts):
    return os.path.join(SOURCE, *parts)


DOCUMENTS = {
    "minidlna": ("tests", "data", "fixtures", "devices", "minidlna", "rootDesc.xml"),
    "network-light": ("tests", "data", "fixtures", "devices", "network-light", "network-light-desc.xml"),
    "binarylight": ("examples", "binarylight", "BinaryLight.xml"),
    "hub": ("tests", "data", "devices", "embedded", "Hub.xml"),
    "quoting": ("tests", "tools", "data", "Quoting.xml"),
}


def services_by_type(model):
    return {s["serviceType"]: s for s in model["services"]}


class Describe(unittest.TestCase):
    def test_every_document_matches_its_files(self):
        # Quoting.xml holds characters that XML 1.0 forbids: checked by hand below.
        for name, parts in DOCUMENTS.items():
            if name == "quoting":
                continue
            with self.subTest(name):
                path = data(*parts)
                self.assertEqual(describe(path), expected_model(path))

    def test_minidlna(self):
        model = describe(data(*DOCUMENTS["minidlna"]))
        self.assertEqual(model["deviceType"], "urn:schemas-upnp-org:device:MediaServer:1")
        self.assertEqual(model["friendlyName"], "Peer MiniDLNA")
        self.assertEqual(model["udn"], "uuid:4d696e69-444c-164e-9d41-554e4b4e4f57")
        self.assertEqual(model["devices"], [])
        services = services_by_type(model)
        self.assertEqual(len(services), 3)
        cds = services["urn:schemas-upnp-org:service:ContentDirectory:1"]
        self.assertEqual(cds["controlURL"], "/ctl/ContentDir")
        self.assertEqual([a["name"] for a in cds["actions"]],
                         ["GetSearchCapabilities", "GetSortCapabilities", "GetSystemUpdateID",
                          "Browse", "Search", "UpdateObject"])
        browse = next(a for a in cds["actions"] if a["name"] == "Browse")
        self.assertEqual([a["direction"] for a in browse["args"]], ["in"] * 6 + ["out"] * 4)
        events = {v["name"]: v["sendEvents"] for v in cds["variables"]}
        self.assertEqual(len(events), 14)
        self.assertTrue(events["SystemUpdateID"])
        self.assertFalse(events["A_ARG_TYPE_ObjectID"])
        registrar = services["urn:microsoft.com:service:X_MS_MediaReceiverRegistrar:1"]
        self.assertEqual(len(registrar["actions"]), 3)

    def test_network_light(self):
        model = describe(data(*DOCUMENTS["network-light"]))
        self.assertEqual(model["deviceType"], "urn:schemas-upnp-org:device:DimmableLight:1")
        dimming = services_by_type(model)["urn:schemas-upnp-org:service:Dimming:1"]
        self.assertEqual(dimming["SCPDURL"], "/xml/Dimming-scpd.xml")
        self.assertEqual([a["name"] for a in dimming["actions"]],
                         ["SetLoadLevelTarget", "GetLoadLevelTarget", "GetLoadLevelStatus"])

    def test_binarylight(self):
        model = describe(data(*DOCUMENTS["binarylight"]))
        switch = services_by_type(model)["urn:schemas-upnp-org:service:SwitchPower:1"]
        self.assertEqual(switch["actions"], [
            {"name": "SetTarget", "args": [{"name": "newTargetValue", "direction": "in"}]},
            {"name": "GetTarget", "args": [{"name": "RetTargetValue", "direction": "out"}]},
            {"name": "GetStatus", "args": [{"name": "ResultStatus", "direction": "out"}]}])
        self.assertEqual(switch["variables"], [{"name": "Target", "sendEvents": False},
                                               {"name": "Status", "sendEvents": True}])

    def test_embedded_devices(self):
        model = describe(data(*DOCUMENTS["hub"]))
        lamps = model["devices"]
        self.assertEqual([d["friendlyName"] for d in lamps], ["Lamp A", "Lamp A"],
                         "devices are addressed by type: the second lamp shows the first")
        sensor = lamps[0]["devices"][0]
        self.assertEqual(sensor["deviceType"], "urn:qn-test:device:Sensor:1")
        self.assertEqual(sensor["services"][0]["serviceType"], "urn:qn-test:service:Light:1")
        self.assertEqual(sensor["devices"], [])

    def test_escapes_and_utf8(self):
        model = describe(data(*DOCUMENTS["quoting"]))
        self.assertEqual(model["friendlyName"],
                         'Say "hi" C:\\media\\ tab\tline\nbell&#7; raw\x01\x1f K\u00fcche \u20ac')
        service = model["services"][0]
        self.assertEqual(service["controlURL"], '/ctl?a=1&b="2"')
        self.assertEqual(service["actions"][0]["name"], "Gr\u00fc\u00dfen")
        self.assertEqual([a["direction"] for a in service["actions"][0]["args"]], ["unknown", "unknown"])
        raw = run("describe", data(*DOCUMENTS["quoting"])).stdout
        self.assertIn("K\u00fcche \u20ac".encode(), raw, "UTF-8 is passed through, not escaped")
        self.assertIn(b"\\u0001\\u001f", raw)

    def test_location_is_the_path_as_given(self):
        folder = data("tests", "data", "fixtures", "devices", "minidlna")
        for path in ["rootDesc.xml", "./rootDesc.xml", "..//minidlna//rootDesc.xml", os.path.join(folder, "rootDesc.xml")]:
            with self.subTest(path):
                model = describe(path, cwd=folder)
                self.assertEqual(model["location"], path)
                self.assertEqual(len(model["services"]), 3)


class Failures(unittest.TestCase):
    def check_fails(self, args, status, reason, cwd=None):
        result = run(*args, cwd=cwd)
        self.assertEqual(result.returncode, status, result.stderr)
        self.assertEqual(result.stdout, b"")
        self.assertIn(reason.encode(), result.stderr)

    def test_documents_that_do_not_load(self):
        with tempfile.TemporaryDirectory() as tmp:
            def write(name, text):
                with open(os.path.join(tmp, name), "w") as f:
                    f.write(text)
            write("broken.xml", "<root><device><deviceType>x</deviceType")
            with open(data(*DOCUMENTS["binarylight"])) as f:
                write("noscpd.xml", f.read().replace("/SwitchPower.xml", "/Missing.xml"))
            write("empty.xml", "")
            cases = [
                ("missing file", ["describe", os.path.join(tmp, "absent.xml")], " could not open file "),
                ("broken document", ["describe", "broken.xml"], " parse error, ret = "),
                ("missing SCPD", ["describe", "noscpd.xml"], " could not open file ./Missing.xml"),
                ("empty file", ["describe", "empty.xml"], " could not read data from file "),
                ("a directory", ["describe", tmp + "/"], " invalid args"),
                ("path too long", ["describe", "d" * 200 + "/x.xml"], "longer than"),
            ]
            for name, args, reason in cases:
                with self.subTest(name):
                    self.check_fails(args, 1, reason, cwd=tmp)

    def test_usage(self):
        cases = [
            ("no command", [], "usage: qnsdk"),
            ("unknown command", ["frobnicate"], "unknown command"),
            ("describe without a path", ["describe"], "usage: qnsdk describe"),
            ("two paths", ["describe", "a.xml", "b.xml"], "usage: qnsdk describe"),
            ("an option", ["describe", "--verbose"], "usage: qnsdk describe"),
        ]
        for name, args, reason in cases:
            with self.subTest(name):
                self.check_fails(args, 2, reason)

    def test_help(self):
        for args in (["--help"], ["describe", "--help"]):
            with self.subTest(" ".join(args)):
                result = run(*args)
                self.assertEqual(result.returncode, 0)
                self.assertIn(b"describe", result.stdout)


if __name__ == "__main__":
    QNSDK, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=1)
