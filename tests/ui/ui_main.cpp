// main() of the window's test programs: Qt's offscreen platform (no
// display needed), one QApplication for all tests. Built with
// QN_UI_TEST_NET the program first moves into a private network namespace,
// before Qt starts any thread, and skips its tests where none can be made.
#include "privateNetworkEnv.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
#ifdef QN_UI_TEST_NET
    qntest::enterPrivateNetworkOrSkipAll();
#endif
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
