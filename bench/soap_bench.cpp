// SOAP and GENA figures on loopback, in a private network namespace:
//  - an action round trip (GetStatus) from the stack's control point to
//    the stack's BinaryLight, and the same client against an independent
//    GUPnP device (python3-gi, a child process) in the same run;
//  - from qnCPSubscribe to the arrival of the initial event at the control
//    point's application;
//  - from qnDevNotify to the arrival of the event at the application.
// Each reports the median and the 99th percentile in microseconds.
#include "childProcess.h"
#include "handTracked.h"
#include "desc.h"
#include "entity.h"
#include "log.h"
#include "netBenchMain.h"
#include "netns.h"
#include "rawnet.h"
#include "sdkThread.h"
#include "qnSdkApi.h"
#include "server.h"
#include "text.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qntest;
using Clock = std::chrono::steady_clock;

constexpr const char *kSwitchPower = "urn:schemas-upnp-org:service:SwitchPower:1";

std::string dataDir() { return QN_TEST_DATA_DIR; }
std::string lightDir() { return dataDir() + "/../../examples/binarylight"; }

// ---- The device and the control point's application --------------------------------------

QN_RET lightHandler(QN_ENTITY, int32_t type, QN_COOKIE, void *arg)
{
    if (type == MT_DEV_ACTION) {
        auto *a = static_cast<QNApiAction *>(arg);
        qnSetNVNameVal(&a->argNV[0], "ResultStatus", "1");
        a->argNum = 1;
    } else if (type == MT_DEV_GET_VAR) {
        qnSetNVVal(static_cast<QNNameVal *>(arg)->val, "1");
    }
    return QN_OK;
}

std::mutex eventMutex;
std::condition_variable eventArrived;
uint64_t eventCount = 0;
Clock::time_point lastEvent;

QN_RET cpHandler(QN_ENTITY, int32_t type, QN_COOKIE, void *)
{
    if (type == MT_CP_EVENT) {
        std::lock_guard guard(eventMutex);
        ++eventCount;
        lastEvent = Clock::now();
        eventArrived.notify_all();
    }
    return QN_OK;
}

// Waits for the event after `seen`; returns its arrival time.
bool waitEvent(uint64_t seen, Clock::time_point *at)
{
    std::unique_lock guard(eventMutex);
    bool got = eventArrived.wait_for(guard, std::chrono::seconds(5), [&] { return eventCount > seen; });
    *at = lastEvent;
    return got;
}

uint64_t eventsSoFar()
{
    std::lock_guard guard(eventMutex);
    return eventCount;
}

struct Stack {
    QN_DEVICE device = QN_INVALID_DEVICE;
    QN_CONTROL_POINT cp = QN_INVALID_CONTROL_POINT;
    uint16_t port = 0;
};

Stack startStack()
{
    setConsoleSink([](const char *) {});
    QNApiSdkConfig config{1, 0, 1 << 20, qntest::startThread, 0, 0};
    qnSdkInit(&config);
    qnSdkRun();
    Stack stack;
    QNApiDevSettings d{};
    copyBounded(d.ipAddr, sizeof d.ipAddr, "127.0.0.1");
    stack.port = freePort();
    d.httpPort = d.soapPort = stack.port;
    copyBounded(d.localPath, sizeof d.localPath, lightDir());
    copyBounded(d.webPath, sizeof d.webPath, "/");
    copyBounded(d.descFile, sizeof d.descFile, "BinaryLight.xml");
    d.msgHandler = lightHandler;
    stack.device = qnAddDevice(&d);
    qnChangeEntityState(stack.device, ES_RUNNING);
    QNApiCtrlPointSettings c{};
    c.cpType = 2;
    copyBounded(c.descFile, sizeof c.descFile, "http://127.0.0.1/none.xml");
    copyBounded(c.ipAddr, sizeof c.ipAddr, "127.0.0.1");
    c.eventPort = freePort();
    copyBounded(c.eventPath, sizeof c.eventPath, "/eventCB");
    c.msgHandler = cpHandler;
    stack.cp = qnAddCtrlPoint(&c, QN_INVALID_CONTROL_POINT);
    return stack;
}

void stopStack()
{
    qnSdkClean();
}

void BM_ActionRoundTripStackDevice(benchmark::State &state)
{
    Stack stack = startStack();
    if (!trackByHand(stack.cp, lightDir() + "/BinaryLight.xml", "127.0.0.1", stack.port))
        state.SkipWithError("no model");
    measureActions(state, stack.cp);
    stopStack();
}

void BM_ActionRoundTripGupnpDevice(benchmark::State &state)
{
    if (access("/usr/bin/python3", X_OK) != 0) {
        state.SkipWithError("no /usr/bin/python3");
        return;
    }
    qntest::ChildProcess light({"/usr/bin/python3", dataDir() + "/../interop/gupnp_light.py",
                                dataDir() + "/fixtures/devices/network-light"},
                               "/dev/null");
    std::string ready = light.waitForLine("READY ", 15000);
    char scheme[16], path[QN_VAL_MAX_LEN];
    uint32_t addr = 0;
    uint16_t port = 0;
    if (ready.empty() || parseUrl(ready.c_str() + 6, scheme, sizeof scheme, &addr, &port, path, sizeof path) != 0) {
        state.SkipWithError("the GUPnP device did not start");
        return;
    }
    Stack stack = startStack();
    if (!trackByHand(stack.cp, dataDir() + "/fixtures/devices/network-light/network-light-desc.xml", "127.0.0.1",
               ntohs(port)))
        state.SkipWithError("no model");
    measureActions(state, stack.cp);
    stopStack();
}

// From the call to the arrival of the initial event; each subscription is
// cancelled afterwards (not timed).
void BM_SubscribeToInitialEvent(benchmark::State &state)
{
    Stack stack = startStack();
    trackByHand(stack.cp, lightDir() + "/BinaryLight.xml", "127.0.0.1", stack.port);
    std::vector<double> us;
    for (auto _ : state) {
        char sid[64] = "";
        uint64_t seen = eventsSoFar();
        auto start = Clock::now();
        Clock::time_point at;
        if (qnCPSubscribe(stack.cp, kSwitchPower, "/eventCB", 1800, sid, sizeof sid) != QN_OK ||
            !waitEvent(seen, &at)) {
            state.SkipWithError("no initial event");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(at - start).count());
        state.PauseTiming();
        qnCPUnsubscribe(stack.cp, kSwitchPower, sid);
        state.ResumeTiming();
    }
    reportLatencies(state, us);
    stopStack();
}

// From qnDevNotify to the arrival of the event at the application.
void BM_NotifyToArrival(benchmark::State &state)
{
    Stack stack = startStack();
    trackByHand(stack.cp, lightDir() + "/BinaryLight.xml", "127.0.0.1", stack.port);
    char sid[64] = "";
    Clock::time_point at;
    uint64_t seen = eventsSoFar();
    if (qnCPSubscribe(stack.cp, kSwitchPower, "/eventCB", 1800, sid, sizeof sid) != QN_OK || !waitEvent(seen, &at)) {
        state.SkipWithError("no subscription");
        stopStack();
        return;
    }
    QNNameVal status{};
    qnSetNVNameVal(&status, "Status", "1");
    std::vector<double> us;
    for (auto _ : state) {
        seen = eventsSoFar();
        auto start = Clock::now();
        if (qnDevNotify(stack.device, kSwitchPower, &status, 1) != 1 || !waitEvent(seen, &at)) {
            state.SkipWithError("event lost");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(at - start).count());
    }
    reportLatencies(state, us);
    stopStack();
}

BENCHMARK(BM_ActionRoundTripStackDevice)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ActionRoundTripGupnpDevice)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SubscribeToInitialEvent)->Iterations(300)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_NotifyToArrival)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return qntest::runBenchmarksInPrivateNetwork(argc, argv);
}
