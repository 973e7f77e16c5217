// Discovery figures, in a private network namespace:
//  - from qnAddCtrlPoint to MT_CP_ALIVE for a device of the stack (the
//    first search goes out one second after the add, by design);
//  - describing minidlna: its description and every SCPD downloaded and
//    parsed by a bound control point;
//  - ten devices announcing on one host: until a plain control point that
//    binds one control point per device has seen them all;
//  - a hundred devices in one process: from qnSdkRun until the bound
//    control points hold every description and SCPD (goal: under 5 s),
//    with this process's resident memory before the stack was used and
//    once the hundred are tracked.
#include "ctrlPoints.h"
#include "deviceProcess.h"
#include "download.h"
#include "entity.h"
#include "netBenchMain.h"
#include "netns.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> alive{0};
QN_RET countAlive(QN_ENTITY, int32_t type, QN_COOKIE, void *)
{
    if (type == MT_CP_ALIVE)
        ++alive;
    return QN_OK;
}

void startStack()
{
    setConsoleSink([](const char *) {});
    QNApiSdkConfig config{1, 0, 1 << 20, qntest::startThread, 0, 0};
    qnSdkInit(&config);
    qnSdkRun();
}

void BM_AddToAlive(benchmark::State &state)
{
    qntest::DeviceProcess light("uuid:cccccccc-0000-0000-0000-000000000001", 32001);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (auto _ : state) {
        startStack();
        alive = 0;
        QNApiCtrlPointSettings s = qntest::discoverySettings(2, light.url(), countAlive, 32101);
        QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
        qnChangeEntityState(cp, ES_RUNNING);
        while (alive == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        state.PauseTiming();
        qnSdkClean();
        state.ResumeTiming();
    }
}

std::atomic<bool> described{false};
int noteDescribed(EntitySlot *, const HeardAlive &)
{
    described = true;
    return 0;
}

void BM_DescribeMinidlna(benchmark::State &state)
{
    pid_t server = fork();
    if (server == 0) {
        int rc = std::system("d=$(mktemp -d); mkdir -p $d/m $d/db; printf 'network_interface=lo\\nport=8200\\n"
                             "media_dir=%s/m\\ndb_dir=%s/db\\nlog_dir=%s\\ninotify=no\\n' $d $d $d > $d/c;"
                             " exec minidlnad -f $d/c -P $d/pid -S >/dev/null 2>&1");
        _exit(rc);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    startStack();
    QNApiCtrlPointSettings s = qntest::discoverySettings(2, "http://127.0.0.1:8200/rootDesc.xml", countAlive, 32102);
    QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    qnChangeEntityState(cp, ES_RUNNING);
    for (auto _ : state) {
        described = false;
        {
            std::lock_guard guard(stackLock());
            EntitySlot *slot = entityAt(cp);
            if (slot->desc == nullptr)
                slot->desc = new QNRootDesc{};
            freeDesc(slot->desc);
            HeardAlive heard{};
            copyBounded(heard.location, sizeof heard.location, "http://127.0.0.1:8200/rootDesc.xml");
            inet_pton(AF_INET, "127.0.0.1", &heard.addr);
            heard.port = htons(8200);
            downloadStart(slot, heard, true, noteDescribed);
        }
        // The loop fetches the description and its SCPDs.
        while (!described)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        std::lock_guard guard(stackLock());
        EntitySlot *slot = entityAt(cp);
        if (slot->desc->device.serviceCount != 3 || slot->desc->device.services[2]->scpd == nullptr)
            state.SkipWithError("minidlna not described");
    }
    qnSdkClean();
    kill(server, SIGTERM);
    std::system("pkill -TERM -f 'minidlnad -f /tmp/'");
    waitpid(server, nullptr, 0);
}

// The control point bound to each Location heard, and when the first was
// heard. Handlers take seenLock under the stack lock; readers on other
// threads take qnLockModel first.
std::mutex seenLock;
std::map<std::string, QN_CONTROL_POINT> seen;
Clock::time_point firstHeard;
QN_RET bindEach(QN_ENTITY main, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_CP_ALIVE)
        return QN_OK;
    std::lock_guard guard(seenLock);
    std::string location = static_cast<const char *>(arg);
    if (seen.empty())
        firstHeard = Clock::now();
    if (seen.count(location) == 0) {
        QNApiCtrlPointSettings s = qntest::discoverySettings(2, location, countAlive, 0);
        QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, main);
        qnChangeEntityState(cp, ES_RUNNING);
        seen[location] = cp;
    }
    return QN_ERR;
}

void BM_TenDevicesSeen(benchmark::State &state)
{
    std::vector<std::unique_ptr<qntest::DeviceProcess>> lights;
    for (int i = 0; i < 10; ++i)
        lights.push_back(std::make_unique<qntest::DeviceProcess>(
            "uuid:dddddddd-0000-0000-0000-00000000000" + std::to_string(i), static_cast<uint16_t>(32010 + i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (auto _ : state) {
        startStack();
        alive = 0;
        seen.clear();
        QNApiCtrlPointSettings s = qntest::discoverySettings(0, "", bindEach, 32110);
        QN_CONTROL_POINT main = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
        qnChangeEntityState(main, ES_RUNNING);
        auto limit = Clock::now() + std::chrono::seconds(20);
        while (alive < 10 && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (alive < 10)
            state.SkipWithError("not all devices seen");
        state.PauseTiming();
        qnSdkClean();
        state.ResumeTiming();
    }
}

// Resident memory of this process in KiB (VmRSS), or -1.
long vmRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}
// Taken before main(): before any benchmark touched the stack.
const long rssBeforeStackKiB = vmRssKiB();

using Lights = std::vector<qntest::LightSpec>;
constexpr int kHundred = 100;
constexpr uint16_t kFirstLightPort = 33000;

Lights hundredLights()
{
    Lights lights;
    for (int i = 0; i < kHundred; ++i) {
        char udn[64];
        std::snprintf(udn, sizeof udn, "uuid:ffffffff-0000-0000-0000-%012d", i);
        lights.push_back({udn, static_cast<uint16_t>(kFirstLightPort + i)});
    }
    return lights;
}

// True when each light has a bound control point that holds its UDN and
// the three actions of its SwitchPower SCPD.
bool allTracked(const Lights &lights)
{
    qnLockModel();
    std::lock_guard guard(seenLock);
    bool all = true;
    for (size_t i = 0; i < lights.size() && all; ++i) {
        auto it = seen.find(lights[i].url());
        char udn[QN_VAL_MAX_LEN];
        const char *actions[QN_ARG_MAX_NUM];
        int32_t count = QN_ARG_MAX_NUM;
        all = it != seen.end() && qnGetUdn(it->second, udn, sizeof udn) == QN_OK && lights[i].udn == udn &&
              qnGetActionList(it->second, "urn:schemas-upnp-org:service:SwitchPower:1", actions, &count) == QN_OK &&
              count == 3;
    }
    qnUnlockModel();
    return all;
}

void BM_HundredDevicesTracked(benchmark::State &state)
{
    Lights lights = hundredLights();
    qntest::DeviceProcess process(lights);
    std::this_thread::sleep_for(std::chrono::seconds(1)); // the child loads its hundred descriptions
    long rssTracked = -1;
    double afterFirstMs = 0;
    for (auto _ : state) {
        {
            std::lock_guard guard(seenLock);
            seen.clear();
        }
        auto start = Clock::now();
        startStack();
        QNApiCtrlPointSettings s = qntest::discoverySettings(0, "", bindEach, 0);
        QN_CONTROL_POINT main = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
        qnChangeEntityState(main, ES_RUNNING);
        auto limit = start + std::chrono::seconds(60);
        bool tracked = false;
        while (!(tracked = allTracked(lights)) && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        auto end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        {
            std::lock_guard guard(seenLock);
            afterFirstMs += std::chrono::duration<double, std::milli>(end - firstHeard).count();
        }
        if (rssTracked < 0)
            rssTracked = vmRssKiB(); // the first round: what tracking a hundred costs, before reuse
        qnSdkClean();
        if (!tracked) {
            state.SkipWithError("not all hundred devices tracked within 60 s");
            break;
        }
    }
    state.counters["rss_before_stack_KiB"] = static_cast<double>(rssBeforeStackKiB);
    state.counters["rss_tracked_KiB"] = static_cast<double>(rssTracked);
    state.counters["first_heard_to_all_ms"] = benchmark::Counter(afterFirstMs, benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_AddToAlive)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DescribeMinidlna)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TenDevicesSeen)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HundredDevicesTracked)->Iterations(3)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

int main(int argc, char **argv)
{
    return qntest::runBenchmarksInPrivateNetwork(argc, argv);
}
