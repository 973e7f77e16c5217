// Small descriptions and SCPDs written into a test folder, for the cases
// that the real documents do not cover.
#pragma once

#include "genSupport.h"

#include <string>
#include <vector>

namespace gentest {

struct TestService {
    std::string type;     // serviceType suffix, e.g. "SwitchPower:1"
    std::string scpdUrl;  // empty: no SCPDURL element
};

inline std::string descriptionText(const std::vector<TestService> &services, const std::string &extra = "")
{
    std::string text = "<?xml version=\"1.0\"?>\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">\n"
                       "  <specVersion><major>1</major><minor>0</minor></specVersion>\n" +
                       extra +
                       "  <device>\n"
                       "    <deviceType>urn:qn-test:device:Thing:1</deviceType>\n"
                       "    <friendlyName>Thing</friendlyName>\n"
                       "    <UDN>uuid:00000000-0000-4000-8000-0000000000ff</UDN>\n"
                       "    <serviceList>\n";
    for (const TestService &s : services) {
        text += "      <service>\n        <serviceType>urn:qn-test:service:" + s.type + "</serviceType>\n";
        text += "        <serviceId>urn:qn-test:serviceId:" + s.type + "</serviceId>\n";
        if (!s.scpdUrl.empty())
            text += "        <SCPDURL>" + s.scpdUrl + "</SCPDURL>\n";
        text += "        <controlURL>/ctl</controlURL>\n        <eventSubURL>/evt</eventSubURL>\n      </service>\n";
    }
    return text + "    </serviceList>\n  </device>\n</root>\n";
}

struct TestArg {
    std::string name;
    std::string direction;
};

struct TestAction {
    std::string name;
    std::vector<TestArg> args;
};

inline std::string scpdText(const std::vector<TestAction> &actions, const std::vector<std::string> &vars)
{
    std::string text = "<?xml version=\"1.0\"?>\n<scpd xmlns=\"urn:schemas-upnp-org:service-1-0\">\n"
                       "  <specVersion><major>1</major><minor>0</minor></specVersion>\n  <actionList>\n";
    for (const TestAction &a : actions) {
        text += "    <action>\n      <name>" + a.name + "</name>\n";
        if (!a.args.empty()) {
            text += "      <argumentList>\n";
            for (const TestArg &arg : a.args)
                text += "        <argument><name>" + arg.name + "</name><direction>" + arg.direction +
                        "</direction><relatedStateVariable>" + vars.front() + "</relatedStateVariable></argument>\n";
            text += "      </argumentList>\n";
        }
        text += "    </action>\n";
    }
    text += "  </actionList>\n  <serviceStateTable>\n";
    for (const std::string &v : vars)
        text += "    <stateVariable sendEvents=\"no\"><name>" + v + "</name><dataType>string</dataType></stateVariable>\n";
    return text + "  </serviceStateTable>\n</scpd>\n";
}

// A one-service device in dir: desc.xml and Svc.xml.
inline void writeSimpleDevice(const TempDir &dir)
{
    writeText(dir.path() / "desc.xml", descriptionText({{"Svc:1", "/Svc.xml"}}));
    writeText(dir.path() / "Svc.xml", scpdText({{"Get", {{"Out", "out"}}}}, {"Value"}));
}

} // namespace gentest
