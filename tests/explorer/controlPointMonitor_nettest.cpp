// The Control Point Monitor inside the test's private network: GUPnP and
// `qnsdk discover` search as real control points, each address becomes one
// "Active Control Points" child however often it searches, nothing is
// heard while the monitor is stopped, and a window thread reads the list
// while the server thread adds to it.
#include "controlPointMonitor.h"

#include "childProcess.h"
#include "explorerStack.h"
#include "gupnpPeer.h"
#include "netns.h"
#include "waitFor.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace lumivar;

std::vector<std::string> addresses(const ControlPointMonitor &monitor)
{
    std::vector<std::string> out;
    for (const auto &e : monitor.controlPoints())
        out.push_back(e.address);
    return out;
}

// GUPnP's control point: its first search, then `times` more.
void gupnpSearches(const std::string &address, int times)
{
    const std::string script = std::string(QN_TEST_DATA_DIR) + "/../interop/gupnp_search_cp.py";
    qntest::ChildProcess cp({qntest::kPython, script, address, std::to_string(times)});
    EXPECT_EQ(cp.readLine(15000), "DONE");
}

// `qnsdk discover`, run `times` times one after the other.
void qnsdkSearches(const std::string &address, int times)
{
    for (int i = 0; i < times; ++i) {
        qntest::ChildProcess cp({QNSDK_TOOL, "discover", "--addr", address, "--timeout", "1"}, "/dev/null");
        EXPECT_EQ(cp.wait(20000), 0);
    }
}

TEST(ControlPointMonitor, OneChildPerSearcherHoweverOftenItSearches)
{
    if (!qntest::haveGupnp())
        GTEST_SKIP() << "GUPnP for python3-gi is not installed";
    qntest::ExplorerStack stack;
    ASSERT_TRUE(stack.ok);
    AppSettings settings;
    settings.webServerPort = settings.controlPort = 32401;
    qntest::RecordedPrompts prompts;
    ControlPointMonitor monitor(settings, prompts);
    monitor.setBindAddress("127.0.0.1");
    ASSERT_TRUE(monitor.startMonitor(true));
    ASSERT_NE(monitor.entity(), QN_INVALID_DEVICE);
    qnSdkRun();

    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::thread window([&] {
        while (!stop.load()) {
            for (const auto &n : monitor.takeNotifications())
                changes += n.type == TreeNotification::NODE_CHANGED && n.nodeId == kControlPointRootId;
            (void)monitor.controlPoints();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    enum Searcher { HANDLER, GUPNP, QNSDK };
    struct Step {
        const char *what;
        bool on; // the monitor's state asked for first
        Searcher searcher;
        std::string address;
        int times;
        std::vector<std::string> after;
    };
    const std::string lo = qntest::kFirstAddr, second = qntest::kSecondAddr;
    const Step steps[] = {
        {"a zero address is ignored", true, HANDLER, "0.0.0.0", 3, {}},
        {"GUPnP searching again and again", true, GUPNP, lo, 5, {lo}},
        {"stopped, qnsdk is not heard", false, QNSDK, second, 1, {lo}},
        {"started again, qnsdk twice", true, QNSDK, second, 2, {lo, second}},
        {"the same address through the handler", true, HANDLER, second, 3, {lo, second}},
        {"GUPnP once more", true, GUPNP, lo, 2, {lo, second}},
    };
    for (const auto &s : steps) {
        ASSERT_TRUE(monitor.startMonitor(s.on)) << s.what;
        EXPECT_EQ(monitor.running(), s.on) << s.what;
        if (s.searcher == GUPNP) {
            gupnpSearches(s.address, s.times);
        } else if (s.searcher == QNSDK) {
            qnsdkSearches(s.address, s.times);
        } else {
            for (int i = 0; i < s.times; ++i) {
                void *arg = reinterpret_cast<void *>(static_cast<uintptr_t>(ntohl(inet_addr(s.address.c_str()))));
                EXPECT_EQ(ControlPointMonitor::monitorHandler(monitor.entity(), MT_DEV_SEARCH, 0, arg),
                          s.address == "0.0.0.0" ? QN_ERR : QN_OK)
                    << s.what;
            }
        }
        EXPECT_TRUE(qntest::waitFor([&] { return addresses(monitor) == s.after; })) << s.what;
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // late duplicates would show now
        EXPECT_EQ(addresses(monitor), s.after) << s.what;
    }
    stop = true;
    window.join();
    for (const auto &n : monitor.takeNotifications())
        changes += n.type == TreeNotification::NODE_CHANGED;
    EXPECT_EQ(changes.load(), 2);
    std::vector<MonitorEntry> entries = monitor.controlPoints();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_LT(kControlPointRootId, entries[0].id);
    EXPECT_LT(entries[0].id, entries[1].id);
    EXPECT_EQ(prompts.take(), "");
}

// With the stack's entity table full the monitor says so, on the Debug page
// too, and stays stopped; once a slot is free it starts.
TEST(ControlPointMonitor, TellsWhenTheStackWillNotAddIt)
{
    qntest::ExplorerStack stack;
    ASSERT_TRUE(stack.ok);
    AppSettings settings;
    qntest::RecordedPrompts prompts;
    ControlPointMonitor monitor(settings, prompts);
    monitor.setBindAddress(qntest::kFirstAddr);
    QNApiDevSettings filler{};
    std::strcpy(filler.ipAddr, qntest::kFirstAddr);
    std::strcpy(filler.serverName, kMonitorServerName);
    std::vector<QN_DEVICE> taken;
    for (QN_DEVICE d; taken.size() <= QN_MAX_ENTITY && (d = qnAddDevice(&filler)) != QN_INVALID_DEVICE;)
        taken.push_back(d);
    ASSERT_FALSE(taken.empty());

    EXPECT_FALSE(monitor.startMonitor(true));
    EXPECT_FALSE(monitor.running());
    EXPECT_EQ(monitor.entity(), QN_INVALID_DEVICE);
    EXPECT_EQ(prompts.take(), "Unable to add universal device!");
    std::string debug;
    for (const auto &n : monitor.takeNotifications())
        if (n.type == TreeNotification::DEBUG_LINE)
            debug += n.text;
    EXPECT_EQ(debug, "Unable to add universal device!\r\n");

    qnRemoveDevice(taken.back());
    EXPECT_TRUE(monitor.startMonitor(true));
    EXPECT_TRUE(monitor.running());
    EXPECT_EQ(monitor.entity(), taken.back());
    EXPECT_EQ(prompts.take(), "");
}

} // namespace
