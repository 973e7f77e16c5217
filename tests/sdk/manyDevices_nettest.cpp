// A hundred devices of the stack in one process, found, described and
// tracked the way an explorer does it: one plain control point hears every
// announcement and, for each new Location, binds a control point of its own
// to that description URL; the plain one refuses the device and stays free.
// At this size the server tables, the shared SSDP sockets and the routing of
// searches, announcements and byebyes to the right entity all carry load.
#include "ctrlPoints.h"
#include "waitFor.h"
#include "deviceProcess.h"
#include "log.h"
#include "qnSdkApi.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

using qntest::DeviceProcess;
using Lights = std::vector<qntest::LightSpec>;

constexpr int kLights = 100;
constexpr uint16_t kFirstPort = 33000;
constexpr char kPowerType[] = "urn:schemas-upnp-org:service:SwitchPower:1";

std::string udnOf(int i)
{
    char text[64];
    std::snprintf(text, sizeof text, "uuid:eeeeeeee-0000-0000-0000-%012d", i);
    return text;
}

Lights hundredLights()
{
    Lights lights;
    for (int i = 0; i < kLights; ++i)
        lights.push_back({udnOf(i), static_cast<uint16_t>(kFirstPort + i)});
    return lights;
}

using qntest::waitFor;

// The byebyes the bound control points heard; taken after the stack's lock.
std::mutex byebyeLock;
std::set<QN_ENTITY> heardByebye;

QN_RET recordByebye(QN_ENTITY cp, int32_t type, QN_COOKIE, void *)
{
    if (type == MT_CP_BYEBYE) {
        std::lock_guard guard(byebyeLock);
        heardByebye.insert(cp);
    }
    return QN_OK;
}

using qntest::explorer;

// True when cp tracks the light with this UDN and holds its SCPD.
bool describes(QN_CONTROL_POINT cp, const std::string &udn)
{
    char got[QN_VAL_MAX_LEN];
    const char *actions[QN_ARG_MAX_NUM];
    int32_t count = QN_ARG_MAX_NUM;
    return qnGetUdn(cp, got, sizeof got) == QN_OK && udn == got &&
           qnGetActionList(cp, kPowerType, actions, &count) == QN_OK && count == 3;
}

class HundredDevices : public testing::Test {
protected:
    void SetUp() override
    {
        setConsoleSink([](const char *) {});
        explorer.reset(recordByebye);
        {
            std::lock_guard guard(byebyeLock);
            heardByebye.clear();
        }
        QNApiSdkConfig config{1, 0, 1 << 20, qntest::startThread, 0, 0};
        ASSERT_EQ(qnSdkInit(&config), QN_OK);
        QNApiCtrlPointSettings s = qntest::discoverySettings(0, "", qntest::exploreHandler);
        plain_ = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
        ASSERT_NE(plain_, QN_INVALID_CONTROL_POINT);
        ASSERT_EQ(qnChangeEntityState(plain_, ES_RUNNING), QN_OK);
        ASSERT_EQ(qnSdkRun(), QN_OK);
    }
    void TearDown() override
    {
        qnSdkClean();
        setConsoleSink(nullptr);
    }

    // The lights whose bound control point does not (yet) describe them.
    std::vector<int> undescribed()
    {
        std::vector<int> missing;
        qnLockModel();
        {
            std::lock_guard guard(explorer.lock);
            for (int i = 0; i < kLights; ++i) {
                auto it = explorer.bound.find(lights_.url(i));
                if (it == explorer.bound.end() || !describes(it->second, udnOf(i)))
                    missing.push_back(i);
            }
        }
        qnUnlockModel();
        return missing;
    }

    DeviceProcess lights_{hundredLights()};
    QN_CONTROL_POINT plain_ = QN_INVALID_CONTROL_POINT;
};

TEST_F(HundredDevices, EachTrackedByItsOwnControlPoint)
{
    std::vector<int> missing;
    ASSERT_TRUE(waitFor(
        [&] {
            missing = undescribed();
            return missing.empty();
        },
        30s))
        << missing.size() << " lights not described, the first " << missing.front();
    {
        qnLockModel();
        char udn[QN_VAL_MAX_LEN];
        EXPECT_NE(qnGetUdn(plain_, udn, sizeof udn), QN_OK) << "the plain control point kept " << udn;
        qnUnlockModel();
        std::lock_guard guard(explorer.lock);
        EXPECT_EQ(explorer.failedAdds, 0);
        EXPECT_EQ(explorer.bound.size(), static_cast<size_t>(kLights)) << "a Location no light has";
    }

    // A byebye carries no Location: it must reach the control point that
    // tracks its Usn, and no other of the hundred.
    std::set<QN_ENTITY> leaving;
    for (int i : {0, 41, 99}) {
        lights_.byebye(static_cast<size_t>(i));
        std::lock_guard guard(explorer.lock);
        leaving.insert(explorer.bound[lights_.url(i)]);
    }
    auto heard = [&] {
        std::lock_guard guard(byebyeLock);
        return heardByebye;
    };
    EXPECT_TRUE(waitFor([&] { return heard() == leaving; }, 10s));
    std::this_thread::sleep_for(1s); // time for a misrouted one to arrive
    EXPECT_EQ(heard(), leaving);
}

std::string usnOf(const std::string &answer)
{
    std::smatch m;
    if (std::regex_search(answer, m, std::regex("\r\nUSN: ?([^\r]*)\r\n", std::regex::icase)))
        return m[1];
    return "";
}

// Searches for root devices from a plain socket every half second until
// `wanted` different Usns answered or the time ran out; the Usns heard.
std::set<std::string> searchRootDevices(size_t wanted, std::chrono::milliseconds limit)
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int size = 1 << 20; // a hundred answers arrive at once
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(1900);
    inet_pton(AF_INET, "239.255.255.250", &group.sin_addr);
    const std::string search = "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
                               "MX: 1\r\nST: upnp:rootdevice\r\n\r\n";
    std::set<std::string> usns;
    auto end = std::chrono::steady_clock::now() + limit;
    while (usns.size() < wanted && std::chrono::steady_clock::now() < end) {
        sendto(fd, search.data(), search.size(), 0, reinterpret_cast<sockaddr *>(&group), sizeof group);
        pollfd p{fd, POLLIN, 0};
        char buf[2048];
        while (poll(&p, 1, 500) > 0) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0)
                usns.insert(usnOf(std::string(buf, static_cast<size_t>(n))));
        }
    }
    close(fd);
    return usns;
}

// Every device of a process answers a search, not only the first of the
// process to take the datagram from the shared SSDP listener.
TEST(HundredDevicesInOneProcess, EachAnswersASearch)
{
    DeviceProcess lights(hundredLights());
    std::set<std::string> heard = searchRootDevices(kLights, 15s);
    std::vector<int> silent;
    for (int i = 0; i < kLights; ++i)
        if (heard.count(udnOf(i) + "::upnp:rootdevice") == 0)
            silent.push_back(i);
    EXPECT_TRUE(silent.empty()) << silent.size() << " lights did not answer, the first " << silent.front();
    EXPECT_EQ(heard.size(), static_cast<size_t>(kLights)) << "answers no light gives";
}

} // namespace
