// lumivar-headless, the explorer's application object run as a program,
// inside the test's private network against three BinaryLights of the stack
// (one dropped by a manufacturer rule of the settings file), a hub with
// embedded devices hosted by this test's own stack, MiniDLNA and a GUPnP
// light. Two runs at once, one printing text and one JSON, each in its own
// working directory: what both show, what the start-up does to log.txt and
// what the shut-down writes back into the settings file.
#include "childProcess.h"
#include "deviceProcess.h"
#include "gupnpPeer.h"
#include "netns.h"
#include "sdkThread.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Json = nlohmann::json;
using qntest::ChildProcess;
using qntest::readFile;

constexpr int kExploreSeconds = 8;
constexpr int kRunWaitMs = 30000;
constexpr uint16_t kHubPort = 32320;
constexpr uint16_t kMinidlnaPort = 32330;
const std::string kStem = "uuid:1ee70000-0000-4000-8000-0000000002";
const std::string kSwitch = "urn:schemas-upnp-org:service:SwitchPower:1";

// "cd DIR && exec lumivar-headless ARGS >out 2>err": the program takes
// log.txt and Zentrova.ini from its working directory.
std::unique_ptr<ChildProcess> runHeadless(const std::string &dir, const std::string &args)
{
    std::string line = "cd " + dir + " && exec " LUMIVAR_HEADLESS " " + args + " >" + dir + "/out 2>" + dir + "/err";
    return std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/sh", "-c", line});
}

struct TempDir {
    TempDir()
    {
        char pattern[] = "/tmp/lumivar-headless-XXXXXX";
        path = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

// Light 3 meets the manufacturer rule; the two before it pass by UDN first.
// With monitor, the Control Point Monitor runs too, its universal device on
// a port of its own.
std::string settingsText(uint16_t callbackPort, bool monitor)
{
    struct Rule {
        const char *name;
        int type; // 3 UDN, 2 manufacturer
        std::string pattern;
        int pass;
    };
    const Rule rules[] = {
        {"One", 3, kStem + "1", 1}, {"Two", 3, kStem + "2", 1}, {"No examples", 2, "qnsdk examples", 0}};
    std::string s = "[General]\nAutoDE=0\nAutoCPE=" + std::to_string(monitor) +
                    "\n[VDev]\nHttpPort=32342\nSoapPort=32342\n[ActDev]\nCBPort=" + std::to_string(callbackPort) +
                    "\n[Log]\nLogFile=1\nSsdp=1\n[Filter]\n";
    for (size_t i = 0; i < std::size(rules); ++i) {
        const std::string n = std::to_string(i);
        s += "Name" + n + "=" + rules[i].name + "\nType" + n + "=" + std::to_string(rules[i].type) + "\nDev" + n +
             "=1\nPattern" + n + "=" + rules[i].pattern + "\nPass" + n + "=" + std::to_string(rules[i].pass) +
             "\nSkip" + n + "=1\n";
    }
    return s;
}

// The JSON nodes as the text output indents them.
void indent(const Json &node, int depth, std::vector<std::string> &lines)
{
    lines.push_back(std::string(static_cast<size_t>(depth) * 2, ' ') + node["text"].get<std::string>());
    for (const auto &c : node["children"])
        indent(c, depth + 1, lines);
}

const Json *childOf(const Json &node, const std::string &text)
{
    for (const auto &c : node["children"])
        if (c["text"] == text)
            return &c;
    return nullptr;
}

// The device node under root whose "Location" holds url.
const Json *deviceAt(const Json &root, const std::string &url)
{
    for (const auto &d : root["children"]) {
        const Json *loc = childOf(d, "Location");
        if (loc != nullptr && !(*loc)["children"].empty() && (*loc)["children"][0]["text"] == url)
            return &d;
    }
    return nullptr;
}

std::vector<std::string> texts(const Json &node)
{
    std::vector<std::string> out;
    for (const auto &c : node["children"])
        out.push_back(c["text"]);
    return out;
}

// Every service of a device and of its embedded devices shows its four parts.
void expectServicesWhole(const Json &device, const std::string &where)
{
    const std::vector<std::string> parts = {"Subcription", "Properties", "Actions", "Variables"};
    for (const auto &service : (*childOf(device, "Service List"))["children"]) {
        EXPECT_EQ(service["kind"], 8) << where;
        EXPECT_EQ(texts(service), parts) << where << " " << service["text"];
        EXPECT_FALSE((*childOf(service, "Variables"))["children"].empty()) << where;
    }
    for (const auto &embedded : (*childOf(device, "Dev List"))["children"])
        expectServicesWhole(embedded, where);
}

TEST(LumivarHeadless, ExploresEveryPeerAndWritesItsSettingsBack)
{
    if (!qntest::inPrivateNetwork())
        GTEST_SKIP() << "no private network";
    const bool withGupnp = qntest::haveGupnp();
    const bool withMinidlna = access("/usr/sbin/minidlnad", X_OK) == 0;
    qntest::DeviceProcess lights({{kStem + "1", 32301}, {kStem + "2", 32302}, {kStem + "3", 32303}});

    // The hub, hosted by this process's stack (made after the fork above).
    qnSetConsoleSink([](const char *) {});
    QNApiSdkConfig config{1, 0, 1 << 20, qntest::startThread, 0, 0};
    ASSERT_EQ(qnSdkInit(&config), QN_OK);
    QNApiDevSettings hub{};
    copyBounded(hub.ipAddr, sizeof hub.ipAddr, "127.0.0.1");
    hub.httpPort = hub.soapPort = kHubPort;
    copyBounded(hub.localPath, sizeof hub.localPath, qntest::dataPath("devices/embedded"));
    copyBounded(hub.webPath, sizeof hub.webPath, "/");
    copyBounded(hub.descFile, sizeof hub.descFile, "Hub.xml");
    hub.msgHandler = qntest::ignoreAll;
    hub.adPeriod = 1;
    QN_DEVICE hubDevice = qnAddDevice(&hub);
    ASSERT_NE(hubDevice, QN_INVALID_DEVICE);
    qnChangeEntityState(hubDevice, ES_RUNNING);
    qnSdkRun();
    const std::string hubUrl = "http://127.0.0.1:" + std::to_string(kHubPort) + "/Hub.xml";

    TempDir peers;
    std::unique_ptr<ChildProcess> minidlna, gupnp;
    std::string gupnpUrl;
    if (withMinidlna) {
        std::filesystem::create_directories(peers.path + "/media");
        std::ofstream(peers.path + "/minidlna.conf")
            << "network_interface=lo\nport=" << kMinidlnaPort << "\nmedia_dir=" << peers.path
            << "/media\ndb_dir=" << peers.path << "\nlog_dir=" << peers.path
            << "\nfriendly_name=lumivar peer\ninotify=no\nnotify_interval=2\n";
        minidlna = std::make_unique<ChildProcess>(std::vector<std::string>{
            "/usr/sbin/minidlnad", "-S", "-f", peers.path + "/minidlna.conf", "-P", peers.path + "/pid"});
    }
    if (withGupnp) {
        gupnp = std::make_unique<ChildProcess>(std::vector<std::string>{
            qntest::kPython, std::string(QN_TEST_DATA_DIR) + "/../interop/gupnp_light.py",
            qntest::dataPath("fixtures/devices/network-light")});
        gupnpUrl = gupnp->waitForLine("READY ", 10000);
        ASSERT_FALSE(gupnpUrl.empty()) << "the GUPnP light did not come up";
        gupnpUrl = gupnpUrl.substr(6);
    }

    // The text and the JSON run side by side, each with its own files.
    TempDir textDir, jsonDir;
    for (const TempDir *d : {&textDir, &jsonDir}) {
        std::ofstream(d->path + "/Zentrova.ini") << settingsText(d == &textDir ? 32340 : 32341, d == &jsonDir);
        std::ofstream(d->path + "/log.txt") << "stale line of an earlier run\n";
    }
    const std::string common = "--addr 127.0.0.1 --for " + std::to_string(kExploreSeconds);
    // The JSON run's monitor is up before the text run searches.
    auto jsonRun = runHeadless(jsonDir.path, common + " --settings " + jsonDir.path + "/Zentrova.ini --json");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    auto textRun = runHeadless(textDir.path, common);
    ASSERT_EQ(textRun->wait(kRunWaitMs), 0) << readFile(textDir.path + "/err");
    ASSERT_EQ(jsonRun->wait(kRunWaitMs), 0) << readFile(jsonDir.path + "/err");
    const std::string textOut = readFile(textDir.path + "/out");
    const Json doc = Json::parse(readFile(jsonDir.path + "/out"), nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    ASSERT_EQ(doc["roots"].size(), 4u);
    const Json &active = doc["roots"][0];
    const Json &filtered = doc["roots"][3];
    EXPECT_EQ(active["text"], "Active Devices");
    EXPECT_EQ(active["kind"], 1);
    EXPECT_EQ(doc["activeControlPoints"], Json::array({"127.0.0.1"})) << doc.dump();

    // Every explored peer, and a path of texts below its node.
    struct Peer {
        const char *name;
        std::string url;
        std::vector<std::string> path; // ends at an argument
        bool embedded;
    };
    std::vector<Peer> peersShown = {
        {"light 1", lights.url(0), {"Service List", kSwitch, "Actions", "SetTarget", "newTargetValue"}, false},
        {"light 2", lights.url(1), {"Service List", kSwitch, "Actions", "GetStatus", "ResultStatus"}, false},
        {"hub", hubUrl,
         {"Dev List", "urn:schemas-upnp-org:device:BinaryLight:1", "Dev List", "urn:qn-test:device:Sensor:1",
          "Service List", "urn:qn-test:service:Light:1", "Actions", "GetLevel", "Level"},
         true},
    };
    if (withMinidlna)
        peersShown.push_back({"minidlna", "http://127.0.0.1:" + std::to_string(kMinidlnaPort) + "/rootDesc.xml",
                              {"Service List", "urn:schemas-upnp-org:service:ContentDirectory:1", "Actions",
                               "Browse", "ObjectID"},
                              false});
    if (withGupnp)
        peersShown.push_back({"GUPnP", gupnpUrl,
                              {"Service List", "urn:schemas-upnp-org:service:Dimming:1", "Actions",
                               "SetLoadLevelTarget", "newLoadlevelTarget"},
                              false});
    for (const Peer &p : peersShown) {
        const Json *device = deviceAt(active, p.url);
        ASSERT_NE(device, nullptr) << p.name << "\n" << textOut;
        EXPECT_EQ((*device)["kind"], 6) << p.name;
        std::vector<std::string> parts = texts(*device);
        EXPECT_EQ(parts, (std::vector<std::string>{"Location", "Properties", "Service List", "Dev List"})) << p.name;
        EXPECT_EQ((*childOf(*device, "Dev List"))["children"].empty(), !p.embedded) << p.name;
        const Json *node = device;
        for (const auto &step : p.path)
            node = node != nullptr ? childOf(*node, step) : nullptr;
        ASSERT_NE(node, nullptr) << p.name << ": " << p.path.back() << "\n" << textOut;
        EXPECT_EQ((*node)["kind"], 11) << p.name;
        expectServicesWhole(*device, p.name);
    }
    EXPECT_EQ(active["children"].size(), peersShown.size()) << textOut;
    ASSERT_EQ(filtered["children"].size(), 1u) << textOut;
    EXPECT_EQ(filtered["children"][0]["text"], lights.url(2));
    EXPECT_TRUE(filtered["children"][0]["children"].empty());

    // The text run shows the same nodes (the order of devices is the order
    // they were heard in, which differs between the runs).
    std::vector<std::string> fromJson;
    for (const auto &root : doc["roots"])
        indent(root, 0, fromJson);
    std::vector<std::string> fromText;
    std::istringstream lines(textOut);
    for (std::string line; std::getline(lines, line);)
        fromText.push_back(line);
    std::sort(fromJson.begin(), fromJson.end());
    std::sort(fromText.begin(), fromText.end());
    EXPECT_EQ(fromText, fromJson);

    // Start-up emptied log.txt before the stack wrote to it; shut-down wrote
    // the settings back, "AutoDE" as 1 and the filter list ended.
    for (const TempDir *d : {&textDir, &jsonDir}) {
        const std::string log = readFile(d->path + "/log.txt");
        EXPECT_EQ(log.find("stale line"), std::string::npos);
        EXPECT_NE(log.find("ssdp"), std::string::npos) << log;
        const std::string ini = readFile(d->path + "/Zentrova.ini");
        EXPECT_NE(ini.find("AutoDE=1\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("Pattern2=qnsdk examples\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("Name3=\n"), std::string::npos) << ini;
    }
    const std::string err = readFile(textDir.path + "/err");
    EXPECT_NE(err.find("log: Device at " + lights.url(0) + " explored"), std::string::npos) << err;
    EXPECT_NE(err.find("log: Device at " + lights.url(2) + " filtered by filter No examples."), std::string::npos)
        << err;
    // The stack's own log reached the "window" while it was up.
    EXPECT_NE(err.find("debug: CP handling ssdp"), std::string::npos) << err;
    qnSdkClean();
    qnSetConsoleSink(nullptr);
}

// A bad command line never starts the stack; a settings file that cannot be
// written back is a failure, not a success.
TEST(LumivarHeadless, ExitStatus)
{
    if (!qntest::inPrivateNetwork())
        GTEST_SKIP() << "no private network";
    struct Case {
        const char *args;
        int status;
        const char *said;
    };
    const Case cases[] = {
        {"--bogus", 2, "usage: lumivar-headless"},
        {"--for", 2, "usage: lumivar-headless"},
        {"--for -1", 2, "usage: lumivar-headless"},
        {"--for 5s", 2, "usage: lumivar-headless"},
        {"--settings", 2, "usage: lumivar-headless"},
        {"--json extra", 2, "usage: lumivar-headless"},
        {"--for 0 --addr 127.0.0.1 --settings /nonexistent/Zentrova.ini", 1, "could not write the settings"},
    };
    TempDir dir;
    for (const Case &c : cases) {
        auto run = runHeadless(dir.path, c.args);
        EXPECT_EQ(run->wait(kRunWaitMs), c.status) << c.args;
        EXPECT_NE(readFile(dir.path + "/err").find(c.said), std::string::npos) << c.args;
        EXPECT_FALSE(std::filesystem::exists(dir.path + "/Zentrova.ini")) << c.args;
    }
}

} // namespace
