// For the main() of test programs that open sockets: the process moves into
// a private network namespace before any thread starts; where none can be
// made, every test is skipped with the reason, never run on the real network.
#pragma once

#include "netns.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace qntest {

class NoPrivateNetwork : public testing::Environment {
public:
    explicit NoPrivateNetwork(std::string why) : why_(std::move(why)) {}
    void SetUp() override { GTEST_SKIP() << "no private network namespace: " << why_; }

private:
    std::string why_;
};

inline void enterPrivateNetworkOrSkipAll()
{
    std::string why;
    if (!enterPrivateNetwork(&why))
        testing::AddGlobalTestEnvironment(new NoPrivateNetwork(why));
}

} // namespace qntest
