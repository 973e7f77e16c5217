// Interop with independent UPnP software, every peer a child process of
// the test inside its private network namespace: GUPnP's control point
// (python3-gi) drives the stack's BinaryLight; the stack's control point
// finds a GUPnP device and MiniDLNA by SSDP and controls and subscribes to
// them.
#include "actionRecord.h"
#include "childProcess.h"
#include "ctrlPoints.h"
#include "gupnpPeer.h"
#include "lightStack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace qntest;

constexpr const char *kMiniDlna = "/usr/sbin/minidlnad";
constexpr const char *kDimming = "urn:schemas-upnp-org:service:Dimming:1";
constexpr const char *kContentDirectory = "urn:schemas-upnp-org:service:ContentDirectory:1";
constexpr const char *kConnectionManager = "urn:schemas-upnp-org:service:ConnectionManager:1";
constexpr int kPeerWaitMs = 15000;

std::string interopScript(const char *name) { return std::string(QN_TEST_DATA_DIR) + "/../interop/" + name; }

// A program built beside the test programs (build/examples/light,
// build/tools/qnsdk), or "" when it is not built.
std::string builtProgram(const std::string &relative)
{
    char exe[4096] = "";
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return "";
    std::string path =
        std::filesystem::path(std::string(exe, static_cast<size_t>(n))).parent_path().string() + "/../" + relative;
    return access(path.c_str(), X_OK) == 0 ? path : "";
}

QNApiAction call(const char *name, const std::vector<std::pair<std::string, std::string>> &args = {})
{
    return makeAction(name, args);
}

std::map<std::string, std::string> outOf(const QNApiAction &a)
{
    std::map<std::string, std::string> out;
    for (int i = 0; i < a.argNum; ++i)
        out[a.argNV[i].name] = a.argNV[i].val;
    return out;
}

// A device that has just started announces itself several times, and a
// byebye among the announcements makes a control point drop what it
// tracked until the next alive: calls are retried while that lasts.
// (qnCPSubscribe reports that state as QN_ERR, the SOAP calls as
// QN_ERR_NO_DEVICE.)
template <typename Call>
QN_RET whileTracked(QN_RET untracked, Call call)
{
    QN_RET rc = untracked;
    for (int i = 0; i < 100 && rc == untracked; ++i) {
        rc = call();
        if (rc == untracked)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return rc;
}
template <typename Call>
QN_RET soapRetry(Call call)
{
    return whileTracked(QN_ERR_NO_DEVICE, call);
}
template <typename Call>
QN_RET genaRetry(Call call)
{
    return whileTracked(QN_ERR, call);
}

// A GUPnP peer script serving the network-light fixture; *ready gets the
// text of its "READY " line once it is announced ("" when it never was).
std::unique_ptr<ChildProcess> startGupnpPeer(const char *script, std::string *ready)
{
    auto peer = std::make_unique<ChildProcess>(
        std::vector<std::string>{kPython, interopScript(script), dataPath("fixtures/devices/network-light")});
    *ready = peer->waitForLine("READY ", kPeerWaitMs);
    return peer;
}

class Interop : public LightStack {
protected:
    // A control point bound to a description URL, running; returns once its
    // tracking has downloaded the description (or after kPeerWaitMs).
    QN_CONTROL_POINT trackByDiscovery(const std::string &location)
    {
        QNApiCtrlPointSettings s = cpSettings(location, freePort());
        QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
        EXPECT_NE(cp, QN_INVALID_CONTROL_POINT);
        EXPECT_EQ(qnChangeEntityState(cp, ES_RUNNING), QN_OK);
        for (int i = 0; i < kPeerWaitMs / 50; ++i) {
            {
                std::lock_guard guard(stackLock());
                const QNRootDesc *desc = entityDesc(cp);
                if (desc != nullptr && desc->device.lastActive != 0 && desc->hostAddr != 0 &&
                    desc->device.serviceCount > 0)
                    return cp;
            }
            if (i % 20 == 0)
                qnCPSearch(cp, "", 1, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ADD_FAILURE() << "not tracked: " << location << "\n" << console();
        return cp;
    }
};

// ---- GUPnP's control point against the stack's device --------------------------------------

TEST_F(Interop, GupnpControlPointDrivesTheStacksLight)
{
    if (!haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    uint16_t port = 0;
    addLight(&port);
    lightApp.notifyOnSet = true;
    char udn[QN_NAME_MAX_LEN] = "";
    ASSERT_EQ(qnGetUdn(0, udn, sizeof udn), QN_OK);
    ChildProcess cp({kPython, interopScript("gupnp_switch_cp.py"), "127.0.0.1", udn});
    ASSERT_TRUE(cp.started());
    std::vector<std::string> lines;
    EXPECT_EQ(cp.waitForLine("DONE", kPeerWaitMs, &lines), "DONE") << console();
    const std::vector<std::string> expected =
        switchRunLines("http://127.0.0.1:" + std::to_string(port) + "/BinaryLight.xml");
    EXPECT_EQ(lines, expected);
    std::vector<std::string> calls = lightApp.callList();
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(calls[0], "action SetTarget newTargetValue=1");
    EXPECT_EQ(calls[3], "var Status");
    EXPECT_EQ(calls[4].rfind("subscribe <http://127.0.0.1:", 0), 0u) << calls[4];
}

// The example program (examples/binarylight/light.c) as its own process:
// GUPnP drives it the same way, and hears the event its SetTarget sends.
TEST_F(Interop, GupnpControlPointDrivesTheExampleLight)
{
    if (!haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    std::string program = builtProgram("examples/light");
    if (program.empty())
        GTEST_SKIP() << "the example light is not built";
    uint16_t port = freePort();
    ChildProcess light({program, "--dir", lightDir(), "--addr", "127.0.0.1", "--port", std::to_string(port)});
    ASSERT_FALSE(light.waitForLine("light: serving", kPeerWaitMs).empty());
    ChildProcess cp({kPython, interopScript("gupnp_switch_cp.py"), "127.0.0.1",
                     "uuid:6a1e5c7e-3b0f-4c8e-9d41-0c1b2a3d4e5f"});
    std::vector<std::string> lines;
    EXPECT_EQ(cp.waitForLine("DONE", kPeerWaitMs, &lines), "DONE");
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[6], "{\"event\": \"Status\", \"value\": true}");
    EXPECT_EQ(lines[8], "{\"event\": \"Status\", \"value\": false}");
    EXPECT_EQ(light.waitForLine("light: SetTarget 0", kPeerWaitMs), "light: SetTarget 0, the light is off");
}

// ---- The stack's control point against GUPnP's device ------------------------------------

// ---- GUPnP's control point against the stack serving real documents -----------------------

// Served fixture SCPDs: GUPnP's introspection lists exactly the variables the
// original marks evented (the stack writes sendEvents on every variable),
// it subscribes to them, hears each one's initial event and then a change.
TEST_F(Interop, GupnpIntrospectsAndSubscribesToServedFixtures)
{
    if (!haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    struct Case {
        const char *name;
        const char *dir;
        const char *descFile;
    } cases[] = {
        {"AV renderer and server", "devices/av", "AVDevice.xml"},
        {"MiniDLNA", "fixtures/devices/minidlna", "rootDesc.xml"},
        {"network light", "fixtures/devices/network-light", "network-light-desc.xml"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QNApiDevSettings s{};
        copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
        s.httpPort = s.soapPort = freePort();
        copyBounded(s.localPath, sizeof s.localPath, dataPath(c.dir));
        copyBounded(s.webPath, sizeof s.webPath, "/");
        copyBounded(s.descFile, sizeof s.descFile, c.descFile);
        s.msgHandler = lightHandler;
        s.adPeriod = 20;
        QN_DEVICE dev = qnAddDevice(&s);
        ASSERT_NE(dev, QN_INVALID_DEVICE) << console();
        ASSERT_EQ(qnChangeEntityState(dev, ES_RUNNING), QN_OK);
        // What the original documents mark evented, as JSON lines of the script.
        const char *types[QN_ARG_MAX_NUM] = {};
        int32_t serviceCount = QN_ARG_MAX_NUM;
        ASSERT_EQ(qnGetServList(dev, "", types, &serviceCount), QN_OK);
        std::set<std::string> expected;
        std::string changedType, changedVar;
        for (int32_t i = 0; i < serviceCount; ++i) {
            const char *names[256] = {};
            uint8_t evented[256] = {};
            int32_t count = 256;
            ASSERT_EQ(qnGetVarList(dev, types[i], names, evented, &count), QN_OK);
            std::vector<std::string> list;
            for (int32_t k = 0; k < count; ++k)
                if (evented[k] != 0)
                    list.emplace_back(names[k]);
            std::sort(list.begin(), list.end());
            std::string line = "{\"evented\": [";
            for (size_t k = 0; k < list.size(); ++k)
                line += (k > 0 ? ", \"" : "\"") + list[k] + "\"";
            expected.insert(line + "], \"service\": \"" + types[i] + "\"}");
            if (changedType.empty() && !list.empty()) {
                changedType = types[i];
                changedVar = list.front();
            }
        }
        ASSERT_FALSE(changedType.empty());
        char udn[QN_NAME_MAX_LEN] = "";
        ASSERT_EQ(qnGetUdn(dev, udn, sizeof udn), QN_OK);
        ChildProcess cp({kPython, interopScript("gupnp_introspect_cp.py"), "127.0.0.1", udn,
                         std::to_string(serviceCount)});
        ASSERT_TRUE(cp.started());
        std::vector<std::string> lines;
        ASSERT_NE(cp.waitForLine("{\"initial\"", kPeerWaitMs, &lines), "") << console();
        std::set<std::string> introspected;
        for (const std::string &line : lines)
            if (line.rfind("{\"evented\"", 0) == 0)
                introspected.insert(line);
        EXPECT_EQ(introspected, expected);
        QNNameVal change{};
        qnSetNVNameVal(&change, changedVar.c_str(), "changed");
        EXPECT_GE(qnDevNotify(dev, changedType.c_str(), &change, 1), 1);
        lines.clear();
        EXPECT_EQ(cp.waitForLine("DONE", kPeerWaitMs, &lines), "DONE");
        const std::string event = "{\"event\": \"" + changedVar + "\", \"service\": \"" + changedType +
                                  "\", \"value\": \"changed\"}";
        EXPECT_NE(std::find(lines.begin(), lines.end(), event), lines.end()) << event;
        cp.wait(kPeerWaitMs);
        EXPECT_EQ(qnRemoveDevice(dev), QN_OK);
    }
}

// A description saved from another device names that device in its URLBase:
// served by the stack it names the stack's device, and GUPnP, resolving the
// document's relative URLs against it, controls the light and hears its events.
TEST_F(Interop, GupnpControlsADescriptionWithAForeignUrlBase)
{
    if (!haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    std::string desc = readWholeFile(lightDir() + "/BinaryLight.xml");
    desc.insert(desc.find("</specVersion>") + 14, "\n  <URLBase>http://10.99.0.1:4004/</URLBase>");
    for (const char *url : {">/SwitchPower.xml<", ">/SwitchPower/control<", ">/SwitchPower/event<"}) {
        size_t at = desc.find(url);
        ASSERT_NE(at, std::string::npos) << url;
        desc.erase(at + 1, 1); // relative to the URLBase
    }
    DeviceDir dir({{"BinaryLight.xml", desc}});
    uint16_t port = 0;
    addLight(&port, "127.0.0.1", dir.path());
    lightApp.notifyOnSet = true;
    const std::string own = "http://127.0.0.1:" + std::to_string(port) + "/";
    std::string served = exchange("127.0.0.1", port, "GET /BinaryLight.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_NE(served.find("<URLBase>" + own + "</URLBase>"), std::string::npos) << served;
    char udn[QN_NAME_MAX_LEN] = "";
    ASSERT_EQ(qnGetUdn(0, udn, sizeof udn), QN_OK);
    ChildProcess cp({kPython, interopScript("gupnp_switch_cp.py"), "127.0.0.1", udn});
    ASSERT_TRUE(cp.started());
    std::vector<std::string> lines;
    EXPECT_EQ(cp.waitForLine("DONE", kPeerWaitMs, &lines), "DONE") << console();
    EXPECT_EQ(lines, switchRunLines(own + "BinaryLight.xml"));
}

// Requests the SCPD does not allow, and a refusal with the application's own
// error, reach GUPnP as UPnP faults with the right codes.
TEST_F(Interop, GupnpSeesTheUpnpErrorOfEachRefusal)
{
    if (!haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    uint16_t port = 0;
    addLight(&port);
    lightApp.refuseActions = true; // only what passes the stack's checks reaches it
    lightApp.refuseCode = 701;
    lightApp.refuseDesc = "Transition not available";
    char udn[QN_NAME_MAX_LEN] = "";
    ASSERT_EQ(qnGetUdn(0, udn, sizeof udn), QN_OK);
    struct Case {
        const char *call;
        const char *answer;
    } cases[] = {
        {"Dim", "\"code\": 401"},
        {"SetTarget", "\"code\": 402"},
        {"SetTarget:newTargetValue=1,Extra=x", "\"code\": 402"},
        {"GetStatus:ResultStatus=1", "\"code\": 402"},
        {"?NoSuchVariable", "\"code\": 404"},
        {"SetTarget:newTargetValue=1", "\"code\": 701"},
        {"?Status", "\"ok\": true"},
    };
    std::vector<std::string> args = {kPython, interopScript("gupnp_calls_cp.py"), "127.0.0.1", udn, kSwitchPower};
    std::vector<std::string> expected;
    for (const Case &c : cases) {
        args.emplace_back(c.call);
        expected.push_back(std::string("{\"call\": \"") + c.call + "\", " + c.answer + "}");
    }
    expected.emplace_back("DONE");
    ChildProcess cp(args);
    ASSERT_TRUE(cp.started());
    std::vector<std::string> lines;
    EXPECT_EQ(cp.waitForLine("DONE", kPeerWaitMs, &lines), "DONE") << console();
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(lightApp.callList(), (std::vector<std::string>{"action SetTarget newTargetValue=1", "var Status"}));
}

TEST_F(Interop, StacksControlPointDrivesAGupnpLight)
{
    if (!haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    std::string ready;
    auto light = startGupnpPeer("gupnp_light.py", &ready);
    ASSERT_FALSE(ready.empty());
    QN_CONTROL_POINT cp = trackByDiscovery(ready.substr(6));

    QNApiAction set = call("SetTarget", {{"newTargetValue", "1"}});
    ASSERT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kSwitchPower, &set); }), QN_OK) << console();
    EXPECT_EQ(set.errCode, 200);
    QNApiAction status = call("GetStatus");
    ASSERT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kSwitchPower, &status); }), QN_OK);
    EXPECT_EQ(outOf(status), (std::map<std::string, std::string>{{"ResultStatus", "1"}}));
    QNApiAction query{};
    qnSetNVNameVal(&query.argNV[0], "Status", "");
    query.argNum = 1;
    ASSERT_EQ(soapRetry([&] { return qnCPSoapQuery(cp, kSwitchPower, &query); }), QN_OK);
    EXPECT_STREQ(query.argNV[0].val, "1");

    // A bad call: an action the service lacks, and one with a wrong argument.
    QNApiAction bad = call("NoSuchAction");
    EXPECT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kSwitchPower, &bad); }), QN_ERR);
    EXPECT_EQ(bad.errCode, 500);
    EXPECT_EQ(outOf(bad)["errorCode"], "401");
    QNApiAction unknownVar{};
    qnSetNVNameVal(&unknownVar.argNV[0], "NoSuchVariable", "");
    unknownVar.argNum = 1;
    EXPECT_EQ(soapRetry([&] { return qnCPSoapQuery(cp, kSwitchPower, &unknownVar); }), QN_ERR);

    // Events: the initial one, then one after each change, for each service.
    char switchSid[64] = "", dimmingSid[64] = "";
    auto subscribe = [&](const char *type, char *sid) {
        return genaRetry([&] { return qnCPSubscribe(cp, type, "/eventCB", 300, sid, 64); });
    };
    ASSERT_EQ(subscribe(kSwitchPower, switchSid), QN_OK);
    std::vector<ReceivedEvent> events = eventLog.waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].sid, switchSid);
    EXPECT_EQ(events[0].vars, (std::vector<std::pair<std::string, std::string>>{{"Status", "1"}}));
    set = call("SetTarget", {{"newTargetValue", "0"}});
    ASSERT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kSwitchPower, &set); }), QN_OK);
    events = eventLog.waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].vars, (std::vector<std::pair<std::string, std::string>>{{"Status", "0"}}));

    ASSERT_EQ(subscribe(kDimming, dimmingSid), QN_OK);
    events = eventLog.waitFor(3);
    ASSERT_EQ(events.size(), 3u) << console();
    EXPECT_EQ(events[2].sid, dimmingSid);
    EXPECT_EQ(events[2].vars, (std::vector<std::pair<std::string, std::string>>{{"LoadLevelStatus", "0"}}));
    QNApiAction level = call("SetLoadLevelTarget", {{"newLoadlevelTarget", "40"}});
    ASSERT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kDimming, &level); }), QN_OK);
    events = eventLog.waitFor(4);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[3].vars, (std::vector<std::pair<std::string, std::string>>{{"LoadLevelStatus", "40"}}));

    // Renewal keeps the subscription; after cancelling, changes send nothing.
    std::string before = switchSid;
    EXPECT_EQ(subscribe(kSwitchPower, switchSid), QN_OK);
    EXPECT_EQ(before, switchSid);
    EXPECT_EQ(genaRetry([&] { return qnCPUnsubscribe(cp, kSwitchPower, switchSid); }), QN_OK);
    EXPECT_EQ(genaRetry([&] { return qnCPUnsubscribe(cp, kDimming, dimmingSid); }), QN_OK);
    set = call("SetTarget", {{"newTargetValue", "1"}});
    ASSERT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kSwitchPower, &set); }), QN_OK);
    EXPECT_EQ(eventLog.waitFor(5, 500).size(), 4u);
    for (const ReceivedEvent &e : eventLog.waitFor(0, 0))
        EXPECT_EQ(e.cp, cp);
}

// ---- The stack's control point against MiniDLNA ---------------------------------------------

class MiniDlna {
public:
    MiniDlna()
    {
        char pattern[] = "/tmp/qnsdk-minidlna-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        dir_ = pattern;
        for (const char *sub : {"/media", "/db", "/log"})
            std::filesystem::create_directory(dir_ + sub);
        std::ofstream(dir_ + "/media/tiny.txt") << "hello";
        port_ = freePort();
        std::ofstream(dir_ + "/minidlna.conf") << "network_interface=lo\nport=" << port_ << "\nmedia_dir=" << dir_
                                               << "/media\ndb_dir=" << dir_ << "/db\nlog_dir=" << dir_
                                               << "/log\nfriendly_name=qnsdk interop\ninotify=no\n";
        // In the foreground (-S), logging to its log folder: its debug
        // output (-d) would fill the pipe nobody reads and stall it.
        process_ = std::make_unique<ChildProcess>(
            std::vector<std::string>{kMiniDlna, "-S", "-f", dir_ + "/minidlna.conf", "-P", dir_ + "/pid"},
            dir_ + "/stderr");
    }
    ~MiniDlna()
    {
        process_.reset();
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }
    std::string location() const { return "http://127.0.0.1:" + std::to_string(port_) + "/rootDesc.xml"; }
    // Waits until it serves its description.
    bool ready()
    {
        for (int i = 0; i < kPeerWaitMs / 100; ++i) {
            std::string answer = exchange("127.0.0.1", port_,
                                          "GET /rootDesc.xml HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                                              "\r\n\r\n",
                                          1000);
            if (answer.rfind("HTTP/1.1 200", 0) == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

private:
    std::string dir_;
    uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

TEST_F(Interop, TwoGupnpRootsOnOnePortAreTrackedEachByItsOwnControlPoint)
{
    if (!haveGupnp())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6 is not installed";
    std::string ready;
    auto roots = startGupnpPeer("gupnp_two_roots.py", &ready);
    ASSERT_FALSE(ready.empty());
    std::istringstream words(ready.substr(6));
    std::string urlA, urlB;
    words >> urlA >> urlB;
    ASSERT_EQ(urlA.substr(0, urlA.rfind('/')), urlB.substr(0, urlB.rfind('/'))) << "not one address and port";
    const std::map<std::string, std::string> udnOf = {{urlA, "uuid:23b0189c-549f-11dc-a7c7-00164159700a"},
                                                      {urlB, "uuid:23b0189c-549f-11dc-a7c7-00164159700b"}};
    explorer.reset(cpHandler);
    ASSERT_NE(addRunningCp(0, "", exploreHandler), QN_INVALID_CONTROL_POINT);
    auto tracked = [&] {
        qnLockModel();
        std::lock_guard guard(explorer.lock);
        bool all = explorer.bound.size() == udnOf.size();
        for (const auto &[url, cp] : explorer.bound) {
            char udn[QN_VAL_MAX_LEN] = "";
            all = all && udnOf.count(url) && qnGetUdn(cp, udn, sizeof udn) == 0 && udnOf.at(url) == udn;
            qnCPSearch(cp, "", 1, nullptr); // GUPnP announces rarely: ask
        }
        qnUnlockModel();
        return all;
    };
    bool found = false;
    for (int i = 0; i < kPeerWaitMs / 500 && !found; ++i) {
        found = tracked();
        if (!found)
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_TRUE(found) << console();
    // More searches and answers of both roots: neither description replaces the other.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(tracked());
}

TEST_F(Interop, StacksControlPointDrivesMiniDlna)
{
    if (access(kMiniDlna, X_OK) != 0)
        GTEST_SKIP() << "minidlna is not installed";
    MiniDlna server;
    ASSERT_TRUE(server.ready());
    QN_CONTROL_POINT cp = trackByDiscovery(server.location());

    QNApiAction update = call("GetSystemUpdateID");
    ASSERT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kContentDirectory, &update); }), QN_OK) << console();
    ASSERT_EQ(update.argNum, 1);
    EXPECT_STREQ(update.argNV[0].name, "Id");
    QNApiAction protocols = call("GetProtocolInfo");
    ASSERT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kConnectionManager, &protocols); }), QN_OK);
    std::map<std::string, std::string> info = outOf(protocols);
    EXPECT_NE(info["Source"].find("http-get:*:"), std::string::npos);
    EXPECT_EQ(info.count("Sink"), 1u);

    QNApiAction browse = call("Browse", {{"ObjectID", "0"},
                                          {"BrowseFlag", "BrowseDirectChildren"},
                                          {"Filter", "*"},
                                          {"StartingIndex", "0"},
                                          {"RequestedCount", "10"},
                                          {"SortCriteria", ""}});
    ASSERT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kContentDirectory, &browse); }), QN_OK);
    std::map<std::string, std::string> result = outOf(browse);
    // The DIDL-Lite document arrives escaped and is read back as markup.
    EXPECT_EQ(result["Result"].rfind("<DIDL-Lite", 0), 0u) << result["Result"];
    EXPECT_NE(result["Result"].find("<container id=\"64\""), std::string::npos) << result["Result"];
    EXPECT_GE(std::stoi(result["NumberReturned"]), 1);
    EXPECT_EQ(result.count("TotalMatches"), 1u);
    EXPECT_EQ(result.count("UpdateID"), 1u);

    // A bad call: an unknown action, then an argument the action lacks.
    QNApiAction unknown = call("NoSuchAction");
    EXPECT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kContentDirectory, &unknown); }), QN_ERR);
    EXPECT_EQ(unknown.errCode, 500);
    EXPECT_EQ(outOf(unknown)["errorCode"], "401");
    QNApiAction badBrowse = call("Browse", {{"ObjectID", "0"}, {"BrowseFlag", "NoSuchFlag"}});
    EXPECT_EQ(soapRetry([&] { return qnCPSoapAction(cp, kContentDirectory, &badBrowse); }), QN_ERR);
    EXPECT_NE(outOf(badBrowse)["errorCode"], "");

    // MiniDLNA accepts subscriptions (and never sends events).
    char sid[64] = "";
    ASSERT_EQ(genaRetry([&] { return qnCPSubscribe(cp, kContentDirectory, "/eventCB", 300, sid, sizeof sid); }), QN_OK);
    EXPECT_EQ(std::string(sid).rfind("uuid:", 0), 0u);
    EXPECT_EQ(genaRetry([&] { return qnCPSubscribe(cp, kContentDirectory, "/eventCB", 300, sid, sizeof sid); }), QN_OK);
    EXPECT_EQ(genaRetry([&] { return qnCPUnsubscribe(cp, kContentDirectory, sid); }), QN_OK);
}

} // namespace

namespace {

// ---- qnsdk call, query and subscribe against the independent peers ---------------------------

struct ToolRun {
    int status;
    std::vector<std::string> lines;
};

ToolRun runTool(const std::vector<std::string> &args, int waitMs = kPeerWaitMs)
{
    std::vector<std::string> argv = {builtProgram("tools/qnsdk")};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--addr", "127.0.0.1"});
    ChildProcess tool(argv, "/dev/null");
    ToolRun run{-1, {}};
    for (std::string line; !(line = tool.readLine(waitMs)).empty();)
        run.lines.push_back(line);
    run.status = tool.wait(waitMs);
    return run;
}

TEST_F(Interop, QnsdkControlsAGupnpLight)
{
    if (!haveGupnp() || builtProgram("tools/qnsdk").empty())
        GTEST_SKIP() << "python3-gi with GUPnP 1.6, or qnsdk, is missing";
    std::string ready;
    auto light = startGupnpPeer("gupnp_light.py", &ready);
    ASSERT_FALSE(ready.empty());
    std::string location = ready.substr(6);
    struct Case {
        const char *name;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"an action", {"call", location, kSwitchPower, "SetTarget", "newTargetValue=1"}, 0,
         {"{\"action\":\"SetTarget\",\"out\":{}}"}},
        {"its out-arguments", {"call", location, kSwitchPower, "GetStatus"}, 0,
         {"{\"action\":\"GetStatus\",\"out\":{\"ResultStatus\":\"1\"}}"}},
        {"the device named by its UDN", {"call", "uuid:23b0189c-549f-11dc-a7c7-001641597c49", kDimming,
          "GetLoadLevelStatus"}, 0,
         {"{\"action\":\"GetLoadLevelStatus\",\"out\":{\"retLoadlevelStatus\":\"0\"}}"}},
        {"a fault", {"call", location, kSwitchPower, "NoSuchAction"}, 1,
         {"{\"fault\":{\"code\":\"401\",\"description\":\"Invalid Action\"}}"}},
        {"a query", {"query", location, kSwitchPower, "Status"}, 0, {"{\"variable\":\"Status\",\"value\":\"1\"}"}},
        {"an argument without a value", {"call", location, kSwitchPower, "SetTarget", "newTargetValue"}, 2, {}},
        {"a service the device lacks", {"call", location, "urn:x:service:None:1", "X"}, 1, {}},
    };
    for (const Case &c : cases) {
        ToolRun run = runTool(c.args);
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run.lines, c.lines) << c.name;
    }

    // Events as they come: the initial one, then one after a change made
    // by another call while the subscription runs.
    std::vector<std::string> argv = {builtProgram("tools/qnsdk"), "subscribe", location, kSwitchPower,
                                     "--for", "4", "--addr", "127.0.0.1"};
    ChildProcess subscriber(argv, "/dev/null");
    std::string first = subscriber.readLine(kPeerWaitMs);
    EXPECT_TRUE(std::regex_match(first, std::regex("\\{\"t\":0\\.\\d{3},\"event\":\\{\"Status\":\"1\"\\}\\}")))
        << first;
    EXPECT_EQ(runTool({"call", location, kSwitchPower, "SetTarget", "newTargetValue=0"}).status, 0);
    std::string second = subscriber.readLine(kPeerWaitMs);
    EXPECT_NE(second.find(",\"event\":{\"Status\":\"0\"}}"), std::string::npos) << second;
    EXPECT_EQ(subscriber.wait(kPeerWaitMs), 0);
}

TEST_F(Interop, QnsdkControlsMiniDlna)
{
    if (access(kMiniDlna, X_OK) != 0 || builtProgram("tools/qnsdk").empty())
        GTEST_SKIP() << "minidlna or qnsdk is missing";
    MiniDlna server;
    ASSERT_TRUE(server.ready());
    ToolRun update = runTool({"call", server.location(), kContentDirectory, "GetSystemUpdateID"});
    EXPECT_EQ(update.status, 0);
    ASSERT_EQ(update.lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(update.lines[0],
                                 std::regex("\\{\"action\":\"GetSystemUpdateID\",\"out\":\\{\"Id\":\"\\d+\"\\}\\}")))
        << update.lines[0];
    ToolRun browse = runTool({"call", server.location(), kContentDirectory, "Browse", "ObjectID=0",
                              "BrowseFlag=BrowseDirectChildren", "Filter=*", "StartingIndex=0", "RequestedCount=5",
                              "SortCriteria="});
    EXPECT_EQ(browse.status, 0);
    ASSERT_EQ(browse.lines.size(), 1u);
    EXPECT_EQ(browse.lines[0].rfind("{\"action\":\"Browse\",\"out\":{\"Result\":\"<DIDL-Lite", 0), 0u)
        << browse.lines[0];
    ToolRun fault = runTool({"call", server.location(), kContentDirectory, "NoSuchAction"});
    EXPECT_EQ(fault.status, 1);
    EXPECT_EQ(fault.lines, (std::vector<std::string>{"{\"fault\":{\"code\":\"401\",\"description\":\"Invalid Action\"}}"}));
}

} // namespace
