// main() of the test programs that open sockets: they run only inside a
// private network namespace, never on the machine's real network.
#include "netns.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class NoPrivateNetwork : public testing::Environment {
public:
    explicit NoPrivateNetwork(std::string why) : why_(std::move(why)) {}
    void SetUp() override { GTEST_SKIP() << "no private network namespace: " << why_; }

private:
    std::string why_;
};

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    std::string why;
    if (!qntest::enterPrivateNetwork(&why))
        testing::AddGlobalTestEnvironment(new NoPrivateNetwork(why));
    return RUN_ALL_TESTS();
}
