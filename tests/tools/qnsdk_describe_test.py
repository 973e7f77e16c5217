#!/usr/bin/env python3
"""qnsdk describe on real description folders.

Each document's expected model is read independently with ElementTree and
compared with the tool's JSON, under the rules of the stack's queries:
devices and services are addressed by type, so a repeated type shows the
first one's contents. Spot checks name what a reader would look for,
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


def prefixes(path):
    """Namespace URI -> prefix of the document, to name prefixed leaves as
    the document writes them (dlna:X_DLNADOC)."""
    return {uri: prefix for _, (prefix, uri) in ET.iterparse(path, events=["start-ns"])}


def tag_name(elem, names):
    if elem.tag.startswith("{"):
        uri, local = elem.tag[1:].split("}")
        prefix = names.get(uri, "")
        return prefix + ":" + local if prefix else local
    return elem.tag


def read_var(v):
    leaves = [c for c in v if len(c) == 0]
    allowed = v.find(SCPD_NS + "allowedValueList")
    rng = v.find(SCPD_NS + "allowedValueRange")
    return {"name": leaf(v, "name", SCPD_NS),
            "sendEvents": v.get("sendEvents", "yes") != "no",
            "dataType": leaves[1].text or "" if len(leaves) > 1 else None,
            "defaultValue": leaf(v, "defaultValue", SCPD_NS),
            "allowedValues": None if allowed is None else
            [a.text or "" for a in allowed.findall(SCPD_NS + "allowedValue")],
            "range": None if rng is None else
            {k: leaf(rng, k, SCPD_NS) for k in ("minimum", "maximum", "step")}}


def read_scpd(path):
    root = ET.parse(path).getroot()
    actions = []
    for action in root.iter(SCPD_NS + "action"):
        args = [{"name": leaf(a, "name", SCPD_NS),
                 "direction": DIRECTIONS.get(leaf(a, "direction", SCPD_NS), "unknown"),
                 "relatedStateVariable": leaf(a, "relatedStateVariable", SCPD_NS) or None}
                for a in action.iter(SCPD_NS + "argument")]
        actions.append({"name": leaf(action, "name", SCPD_NS), "args": args})
    variables = [read_var(v) for v in root.iter(SCPD_NS + "stateVariable")]
    return actions, variables


def read_icon(icon):
    def number(name):
        text = leaf(icon, name, DEV_NS)
        return int(text) if text is not None and text.isdigit() else None
    return {"mimetype": leaf(icon, "mimetype", DEV_NS) or "", "width": number("width"),
            "height": number("height"), "depth": number("depth"), "url": leaf(icon, "url", DEV_NS) or ""}


def read_device(elem, folder, names):
    services = []
    for s in elem.findall(DEV_NS + "serviceList/" + DEV_NS + "service"):
        url = leaf(s, "SCPDURL", DEV_NS)
        scpd = url.replace("\\", "/").rsplit("/", 1)[-1]
        actions, variables = read_scpd(os.path.join(folder, scpd))
        services.append({"serviceType": leaf(s, "serviceType", DEV_NS),
                         "serviceId": leaf(s, "serviceId", DEV_NS), "SCPDURL": url,
                         "controlURL": leaf(s, "controlURL", DEV_NS),
                         "eventSubURL": leaf(s, "eventSubURL", DEV_NS),
                         "actions": actions, "variables": variables})
    fields = {}
    for child in elem:
        if len(child) == 0:
            fields.setdefault(tag_name(child, names), child.text or "")
    return {"udn": leaf(elem, "UDN", DEV_NS), "deviceType": leaf(elem, "deviceType", DEV_NS),
            "friendlyName": leaf(elem, "friendlyName", DEV_NS), "fields": fields,
            "icons": [read_icon(i) for i in elem.findall(DEV_NS + "iconList/" + DEV_NS + "icon")],
            "services": services,
            "devices": [read_device(d, folder, names)
                        for d in elem.findall(DEV_NS + "deviceList/" + DEV_NS + "device")]}


def depth_first(device):
    yield device
    for d in device["devices"]:
        yield from depth_first(d)


def addressed_by_type(root):
    """The document as the queries show it: every device and service by the
    first of its type in depth-first order."""
    first_dev, first_serv = {}, {}
    for d in depth_first(root):
        first_dev.setdefault(d["deviceType"], d)
        for s in d["services"]:
            first_serv.setdefault(s["serviceType"], s)

    def device(d, is_root):
        if not is_root:
            d = first_dev[d["deviceType"]]
        return {**d, "services": [first_serv[s["serviceType"]] for s in d["services"]],
                "devices": [device(e, False) for e in d["devices"]]}

    return device(root, True)


# describe loads the document as a device of the stack at this address,
# which names itself in the presentationURL (and URLBase) it serves.
SERVED_AT = "http://127.0.0.1:30909/"


def expected_model(path):
    root = ET.parse(path).getroot()
    model = read_device(root.find(DEV_NS + "device"), os.path.dirname(path), prefixes(path))
    if "presentationURL" in model["fields"]:
        model["fields"]["presentationURL"] = SERVED_AT
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
    "av": ("tests", "data", "devices", "av", "AVDevice.xml"),
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
            {"name": "SetTarget", "args": [{"name": "newTargetValue", "direction": "in",
                                            "relatedStateVariable": "Target"}]},
            {"name": "GetTarget", "args": [{"name": "RetTargetValue", "direction": "out",
                                            "relatedStateVariable": "Target"}]},
            {"name": "GetStatus", "args": [{"name": "ResultStatus", "direction": "out",
                                            "relatedStateVariable": "Status"}]}])
        plain = {"dataType": "boolean", "defaultValue": "0", "allowedValues": None, "range": None}
        self.assertEqual(switch["variables"], [{"name": "Target", "sendEvents": False, **plain},
                                               {"name": "Status", "sendEvents": True, **plain}])
        self.assertEqual(model["fields"]["manufacturer"], "qnsdk examples")
        self.assertEqual(model["fields"]["modelNumber"], "1")
        self.assertEqual(model["icons"], [])

    def test_typed_variables_and_icons(self):
        av = services_by_type(describe(data(*DOCUMENTS["av"])))
        transport = {v["name"]: v for v in av["urn:schemas-upnp-org:service:AVTransport:2"]["variables"]}
        self.assertEqual(transport["TransportState"]["allowedValues"][:2], ["STOPPED", "PAUSED_PLAYBACK"])
        self.assertEqual(transport["TransportPlaySpeed"]["defaultValue"], "1")
        volume = {v["name"]: v for v in av["urn:schemas-upnp-org:service:RenderingControl:2"]["variables"]}["Volume"]
        self.assertEqual(volume, {"name": "Volume", "sendEvents": False, "dataType": "ui2", "defaultValue": None,
                                  "allowedValues": None, "range": {"minimum": "0", "maximum": "100", "step": "1"}})
        icons = describe(data(*DOCUMENTS["minidlna"]))["icons"]
        self.assertGreater(len(icons), 0)
        self.assertTrue(all(isinstance(i["width"], int) for i in icons))

    def test_bytes_that_are_not_utf8_and_repeated_names(self):
        # Devices send what they like: a Latin-1 name, a field given twice.
        with tempfile.TemporaryDirectory() as tmp:
            with open(data(*DOCUMENTS["binarylight"]), "rb") as f:
                text = f.read().replace(b"<friendlyName>qnsdk Binary Light",
                                        b"<friendlyName>K\xfcche \xe2\x82 light")
                text = text.replace(b"<modelName>", b"<manufacturer>second</manufacturer><modelName>")
            with open(os.path.join(tmp, "light.xml"), "wb") as f:
                f.write(text)
            with open(data("examples", "binarylight", "SwitchPower.xml"), "rb") as f, \
                    open(os.path.join(tmp, "SwitchPower.xml"), "wb") as out:
                out.write(f.read())
            raw = run("describe", "light.xml", cwd=tmp).stdout

            def no_duplicates(pairs):
                names = [k for k, _ in pairs]
                self.assertEqual(len(names), len(set(names)), names)
                return dict(pairs)
            model = json.loads(raw.decode("utf-8"), object_pairs_hook=no_duplicates)
            self.assertEqual(model["friendlyName"], "K\ufffdche \ufffd light")
            self.assertEqual(model["fields"]["manufacturer"], "qnsdk examples")

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
