// main() of the benchmarks that open sockets (like the tests, they run only
// inside a private network namespace) and their latency counters.
#pragma once

#include "netns.h"
#include "qnSdkApi.h"
#include "text.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace qntest {

// The median and the 99th percentile of the measured microseconds.
inline void reportLatencies(benchmark::State &state, std::vector<double> &us)
{
    std::sort(us.begin(), us.end());
    if (us.empty())
        return;
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

// GetStatus of the light's SwitchPower service, once per iteration with a
// pause after each; the client's time per call as p50 and p99.
inline void measureActions(benchmark::State &state, QN_CONTROL_POINT cp,
                           std::chrono::milliseconds pause = std::chrono::milliseconds(0))
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> us;
    for (auto _ : state) {
        QNApiAction a{};
        copyBounded(a.action, sizeof a.action, "GetStatus");
        auto start = Clock::now();
        QN_RET rc = qnCPSoapAction(cp, "urn:schemas-upnp-org:service:SwitchPower:1", &a);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (rc != QN_OK) {
            state.SkipWithError("action failed");
            break;
        }
        if (pause.count() > 0)
            std::this_thread::sleep_for(pause);
    }
    reportLatencies(state, us);
}

inline int runBenchmarksInPrivateNetwork(int argc, char **argv)
{
    std::string why;
    if (!enterPrivateNetwork(&why)) {
        std::fprintf(stderr, "no private network namespace: %s\n", why.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace qntest
