// The Device Explorer against BinaryLights of the stack in a child process,
// inside the test's private network: the tree it builds, the filters'
// verdicts at discovery and after a change at run time, and a window thread
// that reads the tree and calls the stack while handlers publish changes.
#include "deviceExplorer.h"
#include "waitFor.h"

#include "childProcess.h"
#include "deviceProcess.h"
#include "explorerStack.h"
#include "sdkThread.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace lumivar;
using namespace std::chrono_literals;
using qntest::DeviceProcess;
using qntest::LightSpec;

constexpr char kPowerType[] = "urn:schemas-upnp-org:service:SwitchPower:1";

using qntest::waitFor;

using Stack = qntest::ExplorerStack;

FilterRecord dropUdn(const std::string &name, const std::string &udn)
{
    FilterRecord f;
    f.name = name;
    f.type = FT_UDN;
    f.applyToDevice = true;
    f.pattern = udn;
    f.pass = false;
    f.skip = false;
    return f;
}

std::vector<LightSpec> lights(uint16_t firstPort, const std::string &udnStem)
{
    std::vector<LightSpec> out;
    for (uint16_t i = 0; i < 3; ++i)
        out.push_back({udnStem + std::to_string(i + 1), static_cast<uint16_t>(firstPort + i)});
    return out;
}

// The root a device's node hangs under, its text and value; "" when absent.
struct Placement {
    std::string root;
    std::string text;
    uint32_t value = 0;
    size_t children = 0;
};

Placement placementOf(const DeviceExplorer &ex, const std::string &location)
{
    Placement p;
    ex.readTree([&](const DeviceTree &tree) {
        if (const TreeNode *node = tree.findDevice(location)) {
            p = {node->parent->text, node->text, node->value, node->children.size()};
        }
    });
    return p;
}

DeviceRecord recordOf(const DeviceExplorer &ex, const std::string &location)
{
    for (const auto &r : ex.devices())
        if (r.location == location)
            return r;
    return {};
}

struct Collected {
    std::string log, debug;
    void take(DeviceExplorer &ex)
    {
        for (auto &n : ex.takeNotifications()) {
            if (n.type == TreeNotification::LOG_LINE)
                log += n.text;
            else if (n.type == TreeNotification::DEBUG_LINE)
                debug += n.text;
        }
    }
};

TEST(DeviceExplorer, TreeFiltersAndFilterChangesAtRunTime)
{
    const std::string stem = "uuid:1ee70000-0000-4000-8000-00000000000";
    DeviceProcess process(lights(32101, stem));
    Stack stack;
    ASSERT_TRUE(stack.ok);
    AppSettings settings;
    settings.callbackPort = 32150;
    settings.filters = {dropUdn("No third", stem + "3")};
    settings.filterTime = tickSeconds();
    DeviceExplorer ex(settings);
    ex.setBindAddress("127.0.0.1");
    ASSERT_TRUE(ex.startExplorer(true));
    ASSERT_NE(ex.mainControlPoint(), QN_INVALID_CONTROL_POINT);
    const std::string url[3] = {process.url(0), process.url(1), process.url(2)};

    // Found, explored and expanded; the third dropped at discovery.
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(waitFor([&] { return placementOf(ex, url[i]).children == 4; })) << ex.dumpTree();
    ASSERT_TRUE(waitFor([&] { return !placementOf(ex, url[2]).root.empty(); })) << ex.dumpTree();
    Collected out;
    out.take(ex);
    for (int i = 0; i < 2; ++i) {
        Placement p = placementOf(ex, url[i]);
        EXPECT_EQ(p.root, "Active Devices");
        EXPECT_EQ(p.text, "qnsdk Binary Light");
        EXPECT_EQ(p.value, itemValue(NK_DEVICE, recordOf(ex, url[i]).entity));
        EXPECT_NE(out.log.find("Device at " + url[i] + " explored\r\n"), std::string::npos) << out.log;
    }
    Placement dropped = placementOf(ex, url[2]);
    EXPECT_EQ(dropped.root, "Filtered Devices");
    EXPECT_EQ(dropped.text, url[2]); // titled by its location, never its name
    EXPECT_EQ(dropped.children, 0u);
    EXPECT_EQ(recordOf(ex, url[2]).entity, QN_INVALID_CONTROL_POINT);
    EXPECT_NE(out.log.find("Device at " + url[2] + " filtered by filter No third.\r\n"), std::string::npos)
        << out.log;
    EXPECT_EQ(out.log.find("Device at " + url[2] + " explored"), std::string::npos);

    // What an explored device shows, path by path.
    struct Expect {
        std::vector<std::string> path; // below the device node
        uint16_t kind;
        int image = -1; // -1: any
    };
    const std::string power = kPowerType;
    const Expect expected[] = {
        {{"Location"}, NK_LOCATION},
        {{"Location", url[0]}, NK_LOCATION_URL},
        {{"Properties", "friendlyName", "qnsdk Binary Light"}, NK_PROPERTY + 1},
        {{"Properties", "manufacturer", "qnsdk examples"}, NK_PROPERTY + 1},
        {{"Properties", "UDN", stem + "1"}, NK_PROPERTY + 1},
        {{"Service List", power}, NK_SERVICE},
        {{"Service List", power, "Subcription"}, NK_SUBSCRIPTION},
        {{"Service List", power, "Properties", "SCPDURL"}, NK_SCPD_URL},
        {{"Service List", power, "Properties", "SCPDURL", "/SwitchPower.xml"}, NK_SCPD_URL + 1},
        {{"Service List", power, "Properties", "controlURL", "/SwitchPower/control"}, NK_PROPERTY + 1},
        {{"Service List", power, "Actions", "SetTarget", "newTargetValue"}, NK_ARGUMENT, NI_ARG_IN},
        {{"Service List", power, "Actions", "GetTarget", "RetTargetValue"}, NK_ARGUMENT, NI_ARG_OUT},
        {{"Service List", power, "Actions", "GetStatus", "ResultStatus"}, NK_ARGUMENT, NI_ARG_OUT},
        {{"Service List", power, "Variables", "Target"}, NK_VARIABLE},
        {{"Service List", power, "Variables", "Status"}, NK_VARIABLE},
        {{"Dev List"}, NK_DEV_LIST},
    };
    const QN_ENTITY cp0 = recordOf(ex, url[0]).entity;
    ex.readTree([&](const DeviceTree &tree) {
        const TreeNode *dev = tree.findDevice(url[0]);
        ASSERT_NE(dev, nullptr);
        for (const auto &e : expected) {
            const TreeNode *node = dev;
            for (const auto &step : e.path)
                node = node != nullptr ? node->child(step) : nullptr;
            std::string where = e.path.back();
            ASSERT_NE(node, nullptr) << where << "\n" << tree.dump();
            EXPECT_EQ(node->value, itemValue(e.kind, cp0)) << where;
            if (e.image >= 0) {
                EXPECT_EQ(node->image, e.image) << where;
            }
        }
        EXPECT_TRUE(dev->child("Dev List")->children.empty());
        EXPECT_EQ(dev->child("Service List")->child(power)->child("Actions")->children.size(), 3u);
    });

    // Further announcements add neither records nor nodes; a byebye keeps both.
    process.byebye(0);
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(ex.devices().size(), 3u);
    ex.readTree([&](const DeviceTree &tree) {
        EXPECT_EQ(tree.root(NK_ACTIVE_ROOT).children.size(), 2u) << tree.dump();
        EXPECT_EQ(tree.root(NK_FILTERED_ROOT).children.size(), 1u) << tree.dump();
    });
    EXPECT_EQ(placementOf(ex, url[0]).root, "Active Devices");

    // The filters change: the second light is dropped at its next
    // announcement (its control point removed), the third explored.
    const QN_ENTITY cp1 = recordOf(ex, url[1]).entity;
    ASSERT_NE(cp1, QN_INVALID_CONTROL_POINT);
    ex.changeFilters({dropUdn("No second", stem + "2")}, true);
    ASSERT_TRUE(waitFor([&] { return placementOf(ex, url[1]).root == "Filtered Devices"; })) << ex.dumpTree();
    ASSERT_TRUE(waitFor([&] { return placementOf(ex, url[2]).children == 4; })) << ex.dumpTree();
    EXPECT_EQ(placementOf(ex, url[1]).text, url[1]);
    ex.readFileView([&](const DeviceTree &view) {
        EXPECT_NE(view.findPath({"Filtered Devices", url[1], "Location", url[1]}), nullptr) << view.dump();
        EXPECT_EQ(view.root(NK_ACTIVE_ROOT).children.size(), 2u) << view.dump();
    });
    EXPECT_EQ(recordOf(ex, url[1]).entity, QN_INVALID_CONTROL_POINT);
    EXPECT_EQ(recordOf(ex, url[1]).name, "");
    EXPECT_EQ(placementOf(ex, url[2]).root, "Active Devices");
    EXPECT_NE(recordOf(ex, url[2]).entity, QN_INVALID_CONTROL_POINT);
    out.take(ex);
    EXPECT_NE(out.log.find("Device at " + url[1] + " filtered by filter No second.\r\n"), std::string::npos)
        << out.log;
    EXPECT_NE(out.log.find("Device at " + url[2] + " explored\r\n"), std::string::npos) << out.log;

    // And back: the second light gets a control point again.
    ex.changeFilters({}, true);
    ASSERT_TRUE(waitFor([&] { return placementOf(ex, url[1]).children == 4; })) << ex.dumpTree();
    EXPECT_EQ(placementOf(ex, url[1]).root, "Active Devices");
    EXPECT_NE(recordOf(ex, url[1]).entity, QN_INVALID_CONTROL_POINT);
    EXPECT_EQ(ex.devices().size(), 3u);
    out.take(ex);
    EXPECT_EQ(out.debug, "");
}

// The window thread drains notifications, reads the tree and, with the
// stack's lock taken first, calls the stack and reads the tree in one go,
// while the handlers move devices between the roots.
TEST(DeviceExplorer, WindowThreadReadsWhileHandlersPublish)
{
    const std::string stem = "uuid:1ee70000-0000-4000-8000-00000000001";
    DeviceProcess process(lights(32111, stem));
    Stack stack;
    ASSERT_TRUE(stack.ok);
    AppSettings settings;
    settings.callbackPort = 32160;
    DeviceExplorer ex(settings);
    ex.setBindAddress("127.0.0.1");
    ASSERT_TRUE(ex.startExplorer(true));

    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0}, changes{0}, stackCalls{0};
    std::thread window([&] {
        while (!stop.load()) {
            for (const auto &n : ex.takeNotifications())
                if (n.type == TreeNotification::NODE_CHANGED)
                    ++changes;
            size_t nodes = 0;
            ex.readTree([&](const DeviceTree &tree) { nodes = tree.dump().size(); });
            qnLockModel();
            ex.readTree([&](const DeviceTree &tree) {
                for (const auto &r : tree.roots())
                    for (const auto &dev : r->children) {
                        char udn[QN_VAL_MAX_LEN] = "";
                        if (dev->entity() != QN_INVALID_CONTROL_POINT && qnGetUdn(dev->entity(), udn, sizeof udn) == 0)
                            ++stackCalls;
                    }
            });
            qnUnlockModel();
            (void)nodes;
            ++rounds;
        }
    });
    // Each change of the filters moves one light at its next announcement.
    for (int i = 0; i < 8; ++i) {
        ex.changeFilters(i % 2 == 0 ? std::vector<FilterRecord>{dropUdn("Odd", stem + std::to_string(1 + i % 3))}
                                    : std::vector<FilterRecord>{},
                         true);
        std::this_thread::sleep_for(600ms);
    }
    stop = true;
    window.join();
    EXPECT_GT(rounds.load(), 100);
    EXPECT_GT(changes.load(), 0);
    EXPECT_GT(stackCalls.load(), 0);
    EXPECT_EQ(ex.devices().size(), 3u);
}

// MiniDLNA, a peer that is not the stack: a manufacturer rule in other
// letters passes it over (patterns compare case-sensitively), the exact one
// drops it; once the rules are gone it is explored with its services.
TEST(DeviceExplorer, MiniDlnaByManufacturer)
{
    const char *program = "/usr/sbin/minidlnad";
    if (access(program, X_OK) != 0)
        GTEST_SKIP() << "minidlna is not installed";
    char pattern[] = "/tmp/lumivar-minidlna-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    for (const char *sub : {"/media", "/db", "/log"})
        std::filesystem::create_directory(dir + sub);
    const uint16_t port = 32190;
    std::ofstream(dir + "/minidlna.conf") << "network_interface=lo\nport=" << port << "\nmedia_dir=" << dir
                                          << "/media\ndb_dir=" << dir << "/db\nlog_dir=" << dir
                                          << "/log\nfriendly_name=lumivar peer\ninotify=no\nnotify_interval=2\n";
    Stack stack;
    ASSERT_TRUE(stack.ok);
    auto server = std::make_unique<qntest::ChildProcess>(
        std::vector<std::string>{program, "-S", "-f", dir + "/minidlna.conf", "-P", dir + "/pid"}, dir + "/stderr");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/rootDesc.xml";

    AppSettings settings;
    settings.callbackPort = 32170;
    FilterRecord upper = dropUdn("Upper case", "JUSTIN");
    upper.type = FT_MANUFACTURER;
    FilterRecord exact = dropUdn("No Justin", "Justin");
    exact.type = FT_MANUFACTURER;
    settings.filters = {upper, exact};
    DeviceExplorer ex(settings);
    ex.setBindAddress("127.0.0.1");
    ASSERT_TRUE(ex.startExplorer(true));
    EXPECT_TRUE(waitFor([&] { return placementOf(ex, url).root == "Filtered Devices"; }, 15000ms)) << ex.dumpTree();
    Collected out;
    out.take(ex);
    EXPECT_NE(out.log.find("Device at " + url + " filtered by filter No Justin.\r\n"), std::string::npos) << out.log;

    ex.changeFilters({}, true);
    const std::string cds = "urn:schemas-upnp-org:service:ContentDirectory:1";
    EXPECT_TRUE(waitFor(
        [&] {
            bool browse = false;
            ex.readTree([&](const DeviceTree &tree) {
                browse = tree.findPath({"Active Devices", "lumivar peer", "Service List", cds, "Actions", "Browse",
                                        "ObjectID"}) != nullptr;
            });
            return browse;
        },
        15000ms))
        << ex.dumpTree();
    server.reset();
    std::filesystem::remove_all(dir);
}

} // namespace
