// main() of the test programs that open sockets: they run only inside a
// private network namespace, never on the machine's real network.
#include "privateNetworkEnv.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    qntest::enterPrivateNetworkOrSkipAll();
    return RUN_ALL_TESTS();
}
