// main() of the benchmarks that open sockets (like the tests, they run only
// inside a private network namespace) and their latency counters.
#pragma once

#include "netns.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
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
