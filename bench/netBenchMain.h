// main() of the benchmarks that open sockets: like the tests, they run only
// inside a private network namespace.
#pragma once

#include "netns.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace qntest {

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
