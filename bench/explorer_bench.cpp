// The explorer's application object on a busy network, in a private network
// namespace: a hundred BinaryLights of the stack in one child process (each
// announcing every 5 s), MiniDLNA and a GUPnP light when installed.
//  - complete_s: from ExplorerApp::start until every device hangs under
//    "Active Devices" with every service's actions and variables (goal:
//    under 10 s);
//  - idle_cpu_pct: this process's CPU time (all threads) over 5 s once all
//    are shown, while the announcements go on and a window thread takes the
//    notifications every 100 ms (goal: under 2 % of one core);
//  - rss_kB: this process's resident memory once all are shown.
#include "childProcess.h"
#include "deviceProcess.h"
#include "explorerApp.h"
#include "gupnpPeer.h"
#include "netBenchMain.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kLights = 100;
constexpr uint16_t kFirstLightPort = 34000;
constexpr uint16_t kMinidlnaPort = 34200;
constexpr uint16_t kCallbackPort = 34210;
constexpr auto kCompleteLimit = 60s;
constexpr auto kIdleSettle = 1s;
constexpr auto kIdleWindow = 5s;
constexpr auto kWindowPeriod = 100ms;

std::string tempDir(const char *stem)
{
    std::string pattern = std::string("/tmp/") + stem + "-XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

// The peers that are not the stack, each as its own program.
struct OtherPeers {
    OtherPeers()
    {
        if (access("/usr/sbin/minidlnad", X_OK) == 0) {
            dir = tempDir("explorer-bench-minidlna");
            std::error_code ignored;
            std::filesystem::create_directory(dir + "/media", ignored);
            std::ofstream(dir + "/minidlna.conf")
                << "network_interface=lo\nport=" << kMinidlnaPort << "\nmedia_dir=" << dir << "/media\ndb_dir=" << dir
                << "\nlog_dir=" << dir << "\ninotify=no\nnotify_interval=5\n";
            minidlna = std::make_unique<qntest::ChildProcess>(std::vector<std::string>{
                "/usr/sbin/minidlnad", "-S", "-f", dir + "/minidlna.conf", "-P", dir + "/pid"});
            urls.push_back("http://127.0.0.1:" + std::to_string(kMinidlnaPort) + "/rootDesc.xml");
        }
        if (qntest::haveGupnp()) {
            gupnp = std::make_unique<qntest::ChildProcess>(std::vector<std::string>{
                qntest::kPython, std::string(QN_TEST_DATA_DIR) + "/../interop/gupnp_light.py",
                std::string(QN_TEST_DATA_DIR) + "/fixtures/devices/network-light"});
            std::string ready = gupnp->waitForLine("READY ", 10000);
            if (!ready.empty())
                urls.push_back(ready.substr(6));
        }
    }
    ~OtherPeers()
    {
        minidlna.reset();
        gupnp.reset();
        std::error_code ignored;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
    std::unique_ptr<qntest::ChildProcess> minidlna, gupnp;
    std::vector<std::string> urls;
};

// Shown under "Active Devices" with every service's actions and variables.
bool deviceComplete(const lumivar::DeviceTree &tree, const std::string &url)
{
    const lumivar::TreeNode *node = tree.findDevice(url);
    if (node == nullptr || node->parent != &tree.root(lumivar::NK_ACTIVE_ROOT))
        return false;
    const lumivar::TreeNode *services = node->child("Service List");
    if (services == nullptr || services->children.empty())
        return false;
    for (const auto &s : services->children) {
        const lumivar::TreeNode *actions = s->child("Actions");
        const lumivar::TreeNode *vars = s->child("Variables");
        if (actions == nullptr || actions->children.empty() || vars == nullptr || vars->children.empty())
            return false;
    }
    return true;
}

bool allComplete(lumivar::ExplorerApp &app, const std::vector<std::string> &urls)
{
    bool all = true;
    app.explorer().readTree([&](const lumivar::DeviceTree &tree) {
        for (size_t i = 0; i < urls.size() && all; ++i)
            all = deviceComplete(tree, urls[i]);
    });
    return all;
}

double cpuSeconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(use.ru_utime) + seconds(use.ru_stime);
}

long vmRssKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// The window's part while time passes: take what the explorer queued.
void windowFor(lumivar::ExplorerApp &app, std::chrono::milliseconds span)
{
    auto end = Clock::now() + span;
    while (Clock::now() < end) {
        (void)app.takeNotifications();
        std::this_thread::sleep_for(kWindowPeriod);
    }
}

void BM_HundredDevicesExplored(benchmark::State &state)
{
    std::vector<qntest::LightSpec> lights;
    for (int i = 0; i < kLights; ++i) {
        char udn[64];
        std::snprintf(udn, sizeof udn, "uuid:eeeeeeee-0000-4000-8000-%012d", i);
        lights.push_back({udn, static_cast<uint16_t>(kFirstLightPort + i)});
    }
    qntest::DeviceProcess process(lights);
    OtherPeers others;
    std::vector<std::string> urls = others.urls;
    for (const auto &l : lights)
        urls.push_back(l.url());
    std::this_thread::sleep_for(1s); // the child loads its hundred descriptions

    // log.txt and Zentrova.ini land in a folder of the benchmark's own.
    std::error_code cwdError;
    const std::filesystem::path home = std::filesystem::current_path(cwdError);
    const std::string dir = tempDir("explorer-bench");
    if (dir.empty() || chdir(dir.c_str()) != 0) {
        state.SkipWithError("no working folder");
        return;
    }
    std::ofstream(dir + "/Zentrova.ini") << "[ActDev]\nCBPort=" << kCallbackPort << "\n";
    double completeSeconds = 0, idleCpuPct = 0;
    long rss = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        lumivar::ExplorerApp app(dir + "/");
        app.setBindAddress("127.0.0.1");
        if (!app.start()) {
            state.SkipWithError("the explorer did not start");
            break;
        }
        app.setMainWindowUp(true);
        bool complete = false;
        while (!(complete = allComplete(app, urls)) && Clock::now() - start < kCompleteLimit)
            windowFor(app, 20ms);
        double took = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(took);
        if (!complete) {
            state.SkipWithError("not every device shown complete within 60 s");
            break;
        }
        completeSeconds += took;
        windowFor(app, std::chrono::duration_cast<std::chrono::milliseconds>(kIdleSettle));
        double cpuBefore = cpuSeconds();
        auto idleStart = Clock::now();
        windowFor(app, std::chrono::duration_cast<std::chrono::milliseconds>(kIdleWindow));
        double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
        idleCpuPct += 100.0 * (cpuSeconds() - cpuBefore) / wall;
        rss = std::max(rss, vmRssKiB());
        app.stopServer();
        app.finish();
    }
    state.counters["devices"] = static_cast<double>(urls.size());
    state.counters["complete_s"] = benchmark::Counter(completeSeconds, benchmark::Counter::kAvgIterations);
    state.counters["idle_cpu_pct"] = benchmark::Counter(idleCpuPct, benchmark::Counter::kAvgIterations);
    state.counters["rss_kB"] = static_cast<double>(rss);
    std::error_code ignored;
    std::filesystem::current_path(home, ignored);
    std::filesystem::remove_all(dir, ignored);
}

BENCHMARK(BM_HundredDevicesExplored)->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

int main(int argc, char **argv)
{
    return qntest::runBenchmarksInPrivateNetwork(argc, argv);
}
