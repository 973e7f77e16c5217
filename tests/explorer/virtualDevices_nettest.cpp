// Loaded description files and virtual devices, inside the test's private
// network: loading and its refusals, the handler's answers from the tree or
// the default counters, the files it serves, unloading, and a real MiniDLNA
// description run as a virtual device that GUPnP discovers and controls.
#include "deviceExplorer.h"
#include "modelLock.h"
#include "virtualDevices.h"
#include "virtualFiles.h"

#include "childProcess.h"
#include "explorerStack.h"
#include "gupnpPeer.h"
#include "netns.h"
#include "waitFor.h"
#include "xmlFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace lumivar;
using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr char kConnMgr[] = "urn:schemas-upnp-org:service:ConnectionManager:1";
constexpr char kUdn[] = "uuid:4d696e69-444c-164e-9d41-554e4b4e4f57";
constexpr char kName[] = "Peer MiniDLNA";

std::string fixtureDir() { return qntest::dataPath("fixtures/devices/minidlna"); }
std::string fixturePath() { return fixtureDir() + "/rootDesc.xml"; }

// The explorer and its virtual devices on 127.0.0.1, on ports of the test's own.
struct Host {
    explicit Host(uint16_t port)
    {
        settings.webServerPort = port;
        settings.controlPort = port;
        settings.callbackPort = static_cast<uint16_t>(port + 1);
        explorer.setBindAddress("127.0.0.1");
        devices.setBindAddress("127.0.0.1");
    }
    // The id of the node at texts (from a root), 0 when absent.
    uint64_t node(std::vector<std::string> texts) const
    {
        uint64_t id = 0;
        explorer.readTree([&](const DeviceTree &tree) {
            if (const TreeNode *n = tree.findPath(texts))
                id = n->id;
        });
        return id;
    }
    uint64_t item(const std::string &root, std::vector<std::string> below) const
    {
        below.insert(below.begin(), {root, kName, "Service List", kConnMgr});
        return node(below);
    }
    std::string debugLines()
    {
        std::string out;
        for (const auto &n : explorer.takeNotifications())
            if (n.type == TreeNotification::DEBUG_LINE)
                out += n.text;
        return out;
    }
    AppSettings settings;
    qntest::RecordedPrompts prompts;
    DeviceExplorer explorer{settings};
    VirtualDevices devices{explorer, settings, prompts};
};

// The loaded file's record (the running explorer may also list the device
// it became, found on the network).
DeviceRecord onlyRecord(const DeviceExplorer &ex)
{
    for (const auto &r : ex.devices())
        if (r.location == "file://" + fixturePath())
            return r;
    return {};
}

TEST(VirtualDevices, LoadingAndItsRefusals)
{
    qntest::ExplorerStack stack;
    ASSERT_TRUE(stack.ok);
    Host host(32301);
    const std::string dir = fixtureDir();
    struct Case {
        const char *what;
        std::string path;
        const char *box;
        const char *debug;
    };
    const Case cases[] = {
        {"first load", fixturePath(), "", ""},
        {"same path again", fixturePath(), "File/Device already opened!", ""},
        {"empty path", "", "Unable to get url!", "couldn't add ctDev\r\n"},
        {"a folder, no file name", dir + "/", "Unable to get url!", "couldn't add ctDev\r\n"},
        {"missing file", dir + "/missing.xml", "Unable to add device!", "couldn't add ctDev\r\n"},
        {"an SCPD, no description", dir + "/ContentDir.xml", "Unable to add device!", "couldn't add ctDev\r\n"},
        {"folder longer than the stack keeps", "/" + std::string(130, 'x') + "/d.xml", "Unable to add device!",
         "couldn't add ctDev\r\n"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(host.devices.loadXmlFile(c.path), std::string(c.box).empty()) << c.what;
        EXPECT_EQ(host.prompts.take(), c.box) << c.what;
        EXPECT_EQ(host.debugLines(), c.debug) << c.what;
        EXPECT_EQ(host.explorer.devices().size(), 1u) << c.what;
    }
    DeviceRecord r = onlyRecord(host.explorer);
    EXPECT_EQ(r.location, "file://" + fixturePath());
    EXPECT_EQ(r.name, kName);
    EXPECT_EQ(r.owner, QN_INVALID_DEVICE);
    EXPECT_FALSE(r.active || r.isVirtual || r.filtered);
    EXPECT_EQ(qnCheckDevice(r.entity), QN_OK);
    const auto *s = static_cast<const QNApiDevSettings *>(qnGetSettings(r.entity));
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->webPath, "/UPnP");
    EXPECT_STREQ(s->localPath, dir.c_str());
    EXPECT_STREQ(s->descFile, "rootDesc.xml");
    EXPECT_STREQ(s->serverName, "Corvanta Lumiscope");
    EXPECT_NE(host.item("Inactive Devices", {"Actions", "GetProtocolInfo", "Sink"}), 0u) << host.explorer.dumpTree();
}

QN_RET act(QN_ENTITY device, const std::string &name, Pairs &out)
{
    QNApiAction a{};
    std::strcpy(a.action, name.c_str());
    QN_RET rc = VirtualDevices::virtualDeviceHandler(device, MT_DEV_ACTION, 0, &a);
    out.clear();
    for (int i = 0; i < a.argNum; ++i)
        out.emplace_back(a.argNV[i].name, a.argNV[i].val);
    return rc;
}

std::string query(QN_ENTITY device, const std::string &name)
{
    QNNameVal v{};
    std::strcpy(v.name, name.c_str());
    return VirtualDevices::virtualDeviceHandler(device, MT_DEV_GET_VAR, 0, &v) == QN_OK ? v.val : "(refused)";
}

TEST(VirtualDevices, AnswersFromTheTreeOrTheCounters)
{
    qntest::ExplorerStack stack;
    ASSERT_TRUE(stack.ok);
    Host host(32311);
    ASSERT_TRUE(host.devices.loadXmlFile(fixturePath()));
    const QN_ENTITY device = onlyRecord(host.explorer).entity;
    const uint32_t a = VirtualDevices::nextArgumentNumber(), v = VirtualDevices::nextVariableNumber();
    auto arg = [a](uint32_t n) { return std::string("QNE Virtual Dev Arg Value ") + std::to_string(a + n); };
    auto var = [v](uint32_t n) { return std::string("QNE Virtual Dev Var Value ") + std::to_string(v + n); };
    const std::string root = "Inactive Devices";
    struct Step {
        const char *what;
        std::vector<std::string> enterAt; // below the service; empty: nothing entered
        std::string entered;
        std::string action; // or
        std::string variable;
        QN_RET rc;
        Pairs outs;   // action
        std::string value; // query
    };
    const Step steps[] = {
        {"two outs, nothing entered", {}, "", "GetProtocolInfo", "", QN_OK, {{"Source", arg(0)}, {"Sink", arg(1)}}},
        {"counted on", {}, "", "GetProtocolInfo", "", QN_OK, {{"Source", arg(2)}, {"Sink", arg(3)}}},
        {"an entered out value", {"Actions", "GetProtocolInfo", "Sink"}, "http-get:*:audio/mpeg:*",
         "GetProtocolInfo", "", QN_OK, {{"Source", arg(4)}, {"Sink", "http-get:*:audio/mpeg:*"}}},
        {"in argument left out, outs in order", {}, "", "GetCurrentConnectionInfo", "", QN_OK,
         {{"RcsID", arg(5)}, {"AVTransportID", arg(6)}, {"ProtocolInfo", arg(7)},
          {"PeerConnectionManager", arg(8)}, {"PeerConnectionID", arg(9)}, {"Direction", arg(10)},
          {"Status", arg(11)}}},
        {"no such action", {}, "", "NoSuchAction", "", QN_ERR_NODESC, {}},
        {"variable, nothing entered", {}, "", "", "CurrentConnectionIDs", QN_OK, {}, var(0)},
        {"variable with a value item", {"Variables", "SourceProtocolInfo"}, "http-get:*:*:*", "",
         "SourceProtocolInfo", QN_OK, {}, "http-get:*:*:*"},
        {"its counter did not move", {}, "", "", "SinkProtocolInfo", QN_OK, {}, var(1)},
    };
    for (const auto &s : steps) {
        if (!s.enterAt.empty()) {
            ASSERT_TRUE(host.explorer.enterValue(host.item(root, s.enterAt), s.entered)) << s.what;
        }
        if (!s.action.empty()) {
            Pairs outs;
            EXPECT_EQ(act(device, s.action, outs), s.rc) << s.what;
            EXPECT_EQ(outs, s.outs) << s.what;
        } else {
            EXPECT_EQ(query(device, s.variable), s.value) << s.what;
        }
    }
    EXPECT_EQ(VirtualDevices::nextArgumentNumber(), a + 12);
    EXPECT_EQ(VirtualDevices::nextVariableNumber(), v + 2);
}

TEST(VirtualDevices, ServesThePageAndLocalFilesInPieces)
{
    qntest::ExplorerStack stack;
    ASSERT_TRUE(stack.ok);
    Host host(32321);
    ASSERT_TRUE(host.devices.loadXmlFile(fixturePath()));
    const QN_ENTITY device = onlyRecord(host.explorer).entity;
    const std::string &page = presentationPage();
    const std::string scpd = qntest::readFile(fixtureDir() + "/ContentDir.xml");
    ASSERT_GT(page.size(), 100u);
    ASSERT_GT(scpd.size(), 3000u);
    ASSERT_NE(page.find("<title>Corvanta Virtual Device</title>"), std::string::npos);
    struct Case {
        const char *what;
        std::string name;
        int32_t bufLen;
        int32_t fileSize; // as the record arrives
        QN_RET rc;        // of the first call
        std::string body; // every piece until the handler says no more
        int32_t size;     // fileSize reported
    };
    const Case cases[] = {
        {"page in a 100-byte buffer", "/", 100, 0, QN_OK, page.substr(0, 99) + '\0', 100},
        {"whole page", "/", 16384, 0, QN_OK, page, static_cast<int32_t>(page.size())},
        {"page already sent", "/", 16384, 5, QN_OK, "", 5},
        {"local file in pieces", "/UPnP/ContentDir.xml", 1000, 0, QN_OK, scpd, static_cast<int32_t>(scpd.size())},
        {"the same file again", "/UPnP/ContentDir.xml", 4096, 0, QN_OK, scpd, static_cast<int32_t>(scpd.size())},
        {"no step out of the folder", "/UPnP/../minidlna/rootDesc.xml", 4096, 0, QN_ERR, "", 0},
        {"outside the web path", "/index.html", 4096, 0, QN_ERR, "", 0},
        {"missing local file", "/UPnP/none.png", 4096, 0, QN_ERR, "", 0},
        {"no buffer", "/", 0, 0, QN_ERR_ARG, "", 0},
    };
    for (const auto &c : cases) {
        std::vector<char> buf(static_cast<size_t>(std::max(c.bufLen, 1)));
        std::vector<char> name(c.name.begin(), c.name.end());
        name.push_back('\0');
        QNApiFileInfo info{};
        info.fileName = name.data();
        info.fileSize = c.fileSize;
        info.buf = c.bufLen > 0 ? buf.data() : nullptr;
        std::string body;
        QN_RET rc = QN_OK;
        for (int call = 0; rc == QN_OK && call < 100; ++call) {
            info.bufLen = c.bufLen; // the file service hands over its whole buffer each time
            rc = VirtualDevices::virtualDeviceHandler(device, MT_READ_FILE, 0, &info);
            if (call == 0) {
                EXPECT_EQ(rc, c.rc) << c.what;
            }
            if (rc == QN_OK)
                body.append(buf.data(), static_cast<size_t>(info.bufLen));
            if (info.bufLen == 0 || c.name == "/")
                break;
        }
        EXPECT_EQ(body, c.body) << c.what;
        EXPECT_EQ(info.fileSize, c.size) << c.what;
    }
}

TEST(VirtualDevices, UnloadRemovesRecordNodesAndEntity)
{
    qntest::ExplorerStack stack;
    ASSERT_TRUE(stack.ok);
    Host host(32331);
    struct Case {
        const char *what;
        bool run;
        std::string root;
    };
    const Case cases[] = {
        {"a loaded file", false, "Inactive Devices"},
        {"a running virtual device, from an argument item", true, "Virtual Devices"},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(host.devices.loadXmlFile(fixturePath())) << c.what;
        const QN_ENTITY device = onlyRecord(host.explorer).entity;
        if (c.run) {
            ASSERT_TRUE(host.devices.runVirtualDevice(host.node({"Inactive Devices", kName}), true));
        }
        const uint64_t selected = host.item(c.root, {"Actions", "GetProtocolInfo", "Source"});
        ASSERT_NE(selected, 0u) << c.what << "\n" << host.explorer.dumpTree();
        host.devices.unloadXmlFile(selected);
        EXPECT_TRUE(host.explorer.devices().empty()) << c.what;
        EXPECT_EQ(host.node({c.root, kName}), 0u) << c.what;
        host.explorer.readFileView([&](const DeviceTree &view) {
            EXPECT_TRUE(view.root(rootKindFor(true, c.run, false)).children.empty()) << c.what << view.dump();
            EXPECT_TRUE(view.root(NK_INACTIVE_ROOT).children.empty()) << c.what << view.dump();
        });
        EXPECT_EQ(qnCheckDevice(device), QN_ERR_ARG) << c.what; // the slot is free
        EXPECT_EQ(host.debugLines(), "") << c.what;
    }
    // A root is no device: nothing goes, and the Debug page says so.
    host.devices.unloadXmlFile(host.node({"Inactive Devices"}));
    EXPECT_EQ(host.debugLines(), "File/Device not unloaded!?\r\n");
}

std::string say(const std::string &call, const Pairs &outs)
{
    std::string line = "{\"call\": \"" + call + "\", \"out\": {";
    for (size_t i = 0; i < outs.size(); ++i)
        line += (i ? ", \"" : "\"") + outs[i].first + "\": \"" + outs[i].second + "\"";
    return line + "}}";
}

// GUPnP finds the running virtual device, calls it and reads its page while
// the Device Explorer (which finds it too) runs and a window thread reads.
TEST(VirtualDevices, GupnpControlsARunningVirtualDevice)
{
    if (!qntest::haveGupnp())
        GTEST_SKIP() << "GUPnP for python3-gi is not installed";
    qntest::ExplorerStack stack;
    ASSERT_TRUE(stack.ok);
    Host host(32341);
    ASSERT_TRUE(host.explorer.startExplorer(true));
    ASSERT_TRUE(host.devices.loadXmlFile(fixturePath()));
    const uint64_t loaded = host.node({"Inactive Devices", kName});
    ASSERT_TRUE(host.devices.runVirtualDevice(loaded, true));
    DeviceRecord r = onlyRecord(host.explorer);
    EXPECT_TRUE(r.active && r.isVirtual);
    EXPECT_EQ(host.node({"Inactive Devices", kName}), 0u);
    const std::string root = "Virtual Devices";
    ASSERT_TRUE(host.explorer.enterValue(host.item(root, {"Actions", "GetProtocolInfo", "Source"}), "http-get:*:*:*"));
    ASSERT_TRUE(host.explorer.enterValue(host.item(root, {"Variables", "SourceProtocolInfo"}), "rtsp:*:*:*"));
    const uint32_t a = VirtualDevices::nextArgumentNumber(), v = VirtualDevices::nextVariableNumber();
    const std::string arg = "QNE Virtual Dev Arg Value ", var = "QNE Virtual Dev Var Value ";

    std::atomic<bool> stop{false};
    std::thread window([&] {
        while (!stop.load()) {
            (void)host.explorer.takeNotifications();
            (void)host.explorer.dumpTree();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const std::string script = std::string(QN_TEST_DATA_DIR) + "/../interop/gupnp_values_cp.py";
    qntest::ChildProcess cp({qntest::kPython, script, "127.0.0.1", kUdn, kConnMgr, "GetProtocolInfo>Source,Sink",
                             "GetProtocolInfo>Source,Sink", "?SourceProtocolInfo", "?SinkProtocolInfo", "@/"});
    const std::vector<std::string> expected = {
        say("GetProtocolInfo>Source,Sink", {{"Source", "http-get:*:*:*"}, {"Sink", arg + std::to_string(a)}}),
        say("GetProtocolInfo>Source,Sink", {{"Source", "http-get:*:*:*"}, {"Sink", arg + std::to_string(a + 1)}}),
        "{\"call\": \"?SourceProtocolInfo\", \"value\": \"rtsp:*:*:*\"}",
        "{\"call\": \"?SinkProtocolInfo\", \"value\": \"" + var + std::to_string(v) + "\"}",
    };
    for (const auto &line : expected)
        EXPECT_EQ(cp.readLine(15000), line);
    std::string page = cp.readLine(5000);
    EXPECT_EQ(page.rfind("{\"call\": \"@/\", \"status\": 200, \"body\": \"<html><head><title>Corvanta Virtual Device", 0),
              0u)
        << page;
    EXPECT_EQ(cp.readLine(5000), "DONE");
    stop = true;
    window.join();

    // Stopped, it is a loaded file again and keeps the values entered;
    // unloaded, its device entity goes.
    ASSERT_TRUE(host.devices.runVirtualDevice(host.node({root, kName}), false));
    r = onlyRecord(host.explorer);
    EXPECT_FALSE(r.active || r.isVirtual);
    ASSERT_NE(host.node({"Inactive Devices", kName}), 0u);
    EXPECT_NE(host.item("Inactive Devices", {"Actions", "GetProtocolInfo", "Source", "http-get:*:*:*"}), 0u)
        << host.explorer.dumpTree();
    EXPECT_NE(host.item("Inactive Devices", {"Variables", "SourceProtocolInfo", "rtsp:*:*:*"}), 0u);
    host.devices.unloadXmlFile(host.node({"Inactive Devices", kName}));
    EXPECT_EQ(qnCheckDevice(r.entity), QN_ERR_ARG);
}

} // namespace
