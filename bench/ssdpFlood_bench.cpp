// The stack under a flood of searches, on loopback in a private network
// namespace: a device of the stack (the example light) and a control point
// that calls it, while 2000 M-SEARCH a second arrive from 50 searchers for
// five targets (and, in the quiet run, none).
//  - the SOAP action round trip meanwhile (p50, p99 in microseconds);
//  - the search answers the device sends, counted on the wire: the median
//    and the busiest of the flood's seconds (answers_p50_per_s,
//    answers_max_per_s), and the searches sent (searches_per_s).
#include "handTracked.h"
#include "hostilePeer.h"
#include "log.h"
#include "netBenchMain.h"
#include "qnSdkApi.h"
#include "rawnet.h"
#include "sdkThread.h"
#include "text.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qntest;
using Clock = std::chrono::steady_clock;

constexpr const char *kSwitchPower = "urn:schemas-upnp-org:service:SwitchPower:1";
constexpr const char *kDeviceUdn = "uuid:6a1e5c7e-3b0f-4c8e-9d41-0c1b2a3d4e5f";
constexpr int kSearchesPerSecond = 2000;

std::string lightDir() { return std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight"; }

QN_RET lightHandler(QN_ENTITY, int32_t type, QN_COOKIE, void *arg)
{
    if (type == MT_DEV_ACTION) {
        auto *a = static_cast<QNApiAction *>(arg);
        qnSetNVNameVal(&a->argNV[0], "ResultStatus", "1");
        a->argNum = 1;
    }
    return QN_OK;
}

QN_RET ignore(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_OK; }

std::string search(const std::string &st, const char *mx)
{
    return "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: " + std::string(mx) +
           "\r\nST: " + st + "\r\n\r\n";
}

// Searchers that send kSearchesPerSecond searches a second while they run.
class Flood {
public:
    Flood()
    {
        for (int i = 0; i < 50; ++i)
            searchers_.push_back(std::make_unique<UdpPeer>());
        targets_ = {search("upnp:rootdevice", "1"), search(kDeviceUdn, "1"), search("ssdp:all", "3"),
                    search("urn:schemas-upnp-org:device:BinaryLight:1", "5"), search(kSwitchPower, "2")};
        thread_ = std::thread([this] { run(); });
    }
    ~Flood()
    {
        running_ = false;
        thread_.join();
    }
    long sent() const { return sent_; }

private:
    void run()
    {
        auto next = Clock::now();
        for (size_t i = 0; running_; ++i) {
            searchers_[i % searchers_.size()]->sendTo(targets_[i % targets_.size()]);
            ++sent_;
            if (i % 20 == 19) {
                next += std::chrono::milliseconds(20 * 1000 / kSearchesPerSecond);
                std::this_thread::sleep_until(next);
            }
        }
    }

    std::vector<std::unique_ptr<UdpPeer>> searchers_;
    std::vector<std::string> targets_;
    std::atomic<bool> running_{true};
    std::atomic<long> sent_{0};
    std::thread thread_;
};

// Answers per whole second of the run, from the first to the last second.
std::vector<double> perSecond(const std::vector<AnswerSniffer::Seen> &seen, Clock::time_point start,
                              Clock::time_point end)
{
    std::vector<double> counts(
        static_cast<size_t>(std::chrono::duration_cast<std::chrono::seconds>(end - start).count()), 0.0);
    for (const AnswerSniffer::Seen &s : seen) {
        auto second = std::chrono::duration_cast<std::chrono::seconds>(s.at - start).count();
        if (second >= 0 && static_cast<size_t>(second) < counts.size())
            ++counts[static_cast<size_t>(second)];
    }
    return counts;
}

void soapUnderSearches(benchmark::State &state, bool flooded)
{
    setConsoleSink([](const char *) {});
    QNApiSdkConfig config{1, 0, 1 << 20, startThread, 0, 0};
    qnSdkInit(&config);
    qnSdkRun();
    QNApiDevSettings d{};
    copyBounded(d.ipAddr, sizeof d.ipAddr, "127.0.0.1");
    uint16_t port = freePort();
    d.httpPort = d.soapPort = port;
    copyBounded(d.localPath, sizeof d.localPath, lightDir());
    copyBounded(d.webPath, sizeof d.webPath, "/");
    copyBounded(d.descFile, sizeof d.descFile, "BinaryLight.xml");
    d.msgHandler = lightHandler;
    d.adPeriod = 3600;
    QN_DEVICE device = qnAddDevice(&d);
    qnChangeEntityState(device, ES_RUNNING);
    QNApiCtrlPointSettings c{};
    c.cpType = 2;
    copyBounded(c.descFile, sizeof c.descFile, "light.xml");
    copyBounded(c.ipAddr, sizeof c.ipAddr, "127.0.0.1");
    c.eventPort = freePort();
    c.msgHandler = ignore;
    QN_CONTROL_POINT cp = qnAddCtrlPoint(&c, QN_INVALID_CONTROL_POINT);
    if (!trackByHand(cp, lightDir() + "/BinaryLight.xml", "127.0.0.1", port))
        state.SkipWithError("no model");

    AnswerSniffer sniffer(kDeviceUdn);
    std::unique_ptr<Flood> flood;
    if (flooded)
        flood = std::make_unique<Flood>();
    auto start = Clock::now();
    measureActions(state, cp, std::chrono::milliseconds(5));
    auto end = Clock::now();
    long sent = flood != nullptr ? flood->sent() : 0;
    flood.reset();
    std::vector<double> counts = perSecond(sniffer.seen(), start, end);
    std::sort(counts.begin(), counts.end());
    state.counters["answers_p50_per_s"] = counts.empty() ? 0 : counts[counts.size() / 2];
    state.counters["answers_max_per_s"] = counts.empty() ? 0 : counts.back();
    state.counters["searches_per_s"] =
        sent / std::max(1.0, std::chrono::duration<double>(end - start).count());
    qnSdkClean();
}

void BM_SoapQuiet(benchmark::State &state) { soapUnderSearches(state, false); }
void BM_SoapDuringSearchFlood(benchmark::State &state) { soapUnderSearches(state, true); }

BENCHMARK(BM_SoapQuiet)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SoapDuringSearchFlood)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return qntest::runBenchmarksInPrivateNetwork(argc, argv);
}
