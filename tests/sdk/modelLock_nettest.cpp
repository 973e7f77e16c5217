// Reading a control point's model from an application thread while the
// server thread replaces it: the documented way (qnLockModel around a batch
// of queries and every use of the strings they return) must be free of
// races and of reads of freed memory. Run under ThreadSanitizer and
// AddressSanitizer by the test command.
#include "ctrlPoints.h"
#include "deviceProcess.h"
#include "log.h"
#include "qnSdkApi.h"
#include "text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr char kUdnA[] = "uuid:eeeeeeee-0000-0000-0000-00000000000a";
constexpr char kUdnB[] = "uuid:eeeeeeee-0000-0000-0000-00000000000b";

// Every second offer is refused, so the model is also discarded while the
// reader reads.
std::atomic<int> offers{0};
QN_RET refuseEverySecond(QN_ENTITY, int32_t type, QN_COOKIE, void *)
{
    if (type != MT_CP_ALIVE)
        return QN_OK;
    return offers.fetch_add(1) % 2 == 0 ? QN_OK : QN_ERR;
}

// One batch of reads of the whole model, as a window would refresh its
// tree; returns the root's UDN (empty while nothing is described).
std::string readModel(QN_CONTROL_POINT cp, size_t &touched)
{
    std::string udn;
    const char *names[64], *values[64];
    int32_t count = 64;
    if (qnGetDevInfo(cp, "", names, values, &count) == 0)
        for (int i = 0; i < count; ++i) {
            touched += names[i] != nullptr ? std::strlen(names[i]) : 0;
            touched += values[i] != nullptr ? std::strlen(values[i]) : 0;
            if (names[i] != nullptr && values[i] != nullptr && std::strcmp(names[i], "UDN") == 0)
                udn = values[i];
        }
    const char *services[QN_ARG_MAX_NUM];
    int32_t serviceCount = QN_ARG_MAX_NUM;
    if (qnGetServList(cp, "", services, &serviceCount) != 0)
        return udn;
    for (int i = 0; i < serviceCount; ++i) {
        const char *list[128];
        uint8_t evented[128];
        int32_t n = 128;
        if (services[i] != nullptr && qnGetActionList(cp, services[i], list, &n) == 0)
            for (int k = 0; k < n; ++k)
                touched += list[k] != nullptr ? std::strlen(list[k]) : 0;
        n = 128;
        if (services[i] != nullptr && qnGetVarList(cp, services[i], list, evented, &n) == 0)
            for (int k = 0; k < n; ++k)
                touched += list[k] != nullptr ? std::strlen(list[k]) : 0;
    }
    return udn;
}

TEST(ModelLock, ReadsWhileTheServerThreadReplacesAndRemovesModels)
{
    // Two roots announcing every second: the plain control point follows
    // both, re-parsing and discarding its model as they alternate.
    qntest::DeviceProcess a(kUdnA, 32110);
    qntest::DeviceProcess b(kUdnB, 32111);
    setConsoleSink([](const char *) {});
    QNApiSdkConfig config{1, 0, 1 << 20, qntest::startThread, 0, 0};
    ASSERT_EQ(qnSdkInit(&config), QN_OK);
    QN_CONTROL_POINT plain = qntest::addRunningCp(0, "", refuseEverySecond, 32210);
    QN_CONTROL_POINT bound = qntest::addRunningCp(2, a.url(), refuseEverySecond, 32211);
    ASSERT_EQ(qnSdkRun(), QN_OK);

    std::atomic<bool> stop{false};
    std::set<std::string> seen;
    size_t touched = 0;
    std::thread reader([&] {
        while (!stop.load()) {
            qnLockModel();
            seen.insert(readModel(plain, touched));
            seen.insert(readModel(bound, touched));
            qnUnlockModel();
            std::this_thread::yield();
        }
    });
    // The reader changes `seen` only under the model lock.
    auto sawBoth = [&] {
        qnLockModel();
        bool both = seen.count(kUdnA) && seen.count(kUdnB);
        qnUnlockModel();
        return both;
    };
    auto until = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < until && !(sawBoth() && offers >= 6))
        std::this_thread::sleep_for(100ms);
    // Removal while the reader goes on: its queries now fail, nothing more.
    EXPECT_EQ(qnRemoveCtrlPoint(bound), 0);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(qnRemoveCtrlPoint(plain), 0);
    std::this_thread::sleep_for(300ms);
    stop = true;
    reader.join();
    qnSdkClean();
    setConsoleSink(nullptr);
    EXPECT_TRUE(seen.count(kUdnA)) << "the reader never saw the first device";
    EXPECT_TRUE(seen.count(kUdnB)) << "the reader never saw the second device";
    EXPECT_GE(offers.load(), 6) << "too few models were replaced while the reader read";
    EXPECT_GT(touched, 0u);
}

} // namespace
