// Discovery on the wire: announcements and search answers of a device of
// the stack running in another process (as a separate program on the same
// host would), and control points that find, describe and track it.
#include "entity.h"
#include "waitFor.h"
#include "log.h"
#include "netns.h"
#include "qnSdkApi.h"
#include "ssdp.h"
#include "ctrlPoints.h"
#include "deviceProcess.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

using qntest::DeviceProcess;
using qntest::startThread;

// A raw UDP socket: a multicast listener on 1900 or a plain sender (from
// the address `from`: a device's datagrams come from the host its Location
// names).
class RawUdp {
public:
    explicit RawUdp(bool joinGroup, const char *from = nullptr)
    {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(joinGroup ? 1900 : 0);
        if (from != nullptr)
            inet_pton(AF_INET, from, &sa.sin_addr);
        bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        if (joinGroup) {
            ip_mreq mreq{};
            inet_pton(AF_INET, kSsdpGroup, &mreq.imr_multiaddr);
            setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
        }
    }
    ~RawUdp() { close(fd_); }

    void sendToGroup(const std::string &text)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kSsdpPort);
        inet_pton(AF_INET, kSsdpGroup, &to.sin_addr);
        sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }

    // Every datagram that arrives within the time.
    std::vector<std::string> collect(std::chrono::milliseconds during)
    {
        std::vector<std::string> got;
        auto end = std::chrono::steady_clock::now() + during;
        char buf[4096];
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return got;
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n > 0)
                got.emplace_back(buf, static_cast<size_t>(n));
        }
    }

private:
    int fd_;
};

std::string headerOf(const std::string &msg, const std::string &name)
{
    std::smatch m;
    if (std::regex_search(msg, m, std::regex("\r\n" + name + ": ?([^\r]*)\r\n", std::regex::icase)))
        return m[1];
    return "<none>";
}

std::string search(const std::string &st, const std::string &man = "\"ssdp:discover\"",
                   const std::string &target = "*")
{
    return "M-SEARCH " + target + " HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: " + man +
           "\r\nMX: 1\r\nST: " + st + "\r\n\r\n";
}

constexpr char kLightType[] = "urn:schemas-upnp-org:device:BinaryLight:1";
constexpr char kPowerType[] = "urn:schemas-upnp-org:service:SwitchPower:1";

TEST(SsdpMessages, WrittenByteForByte)
{
    char buf[1024];
    ssdpWrite(buf, sizeof buf, SK_SEARCH, nullptr, nullptr, nullptr);
    EXPECT_STREQ(buf, "M-SEARCH * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\nMan: \"ssdp:discover\"\r\nMx: 3\r\n"
                      "St: ssdp:all\r\n\r\n");
    ssdpWrite(buf, sizeof buf, SK_RESPONSE, "http://1.2.3.4:5/d.xml", "upnp:rootdevice", "uuid:a::upnp:rootdevice");
    EXPECT_STREQ(buf, "HTTP/1.1 200 OK\r\nCache-Control: max-age=120\r\nDate: \r\nExt: \r\n"
                      "Location: http://1.2.3.4:5/d.xml\r\nServer: Corvanta UPnP Server, UPnP/1.0\r\n"
                      "St: upnp:rootdevice\r\nUsn: uuid:a::upnp:rootdevice\r\n\r\n");
    ssdpWrite(buf, sizeof buf, SK_ALIVE, "http://1.2.3.4:5/d.xml", "uuid:a", "uuid:a");
    EXPECT_STREQ(buf, "NOTIFY * HTTP/1.1\r\nCache-Control: max-age=120\r\nLocation: http://1.2.3.4:5/d.xml\r\n"
                      "Server: Corvanta UPnP Server, UPnP/1.0\r\nHost: 239.255.255.250:1900\r\nNt: uuid:a\r\n"
                      "Usn: uuid:a\r\nNts: ssdp:alive\r\n\r\n");
    ssdpWrite(buf, sizeof buf, SK_BYEBYE, nullptr, "uuid:a", "uuid:a");
    EXPECT_STREQ(buf, "NOTIFY * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\nNt: uuid:a\r\nUsn: uuid:a\r\n"
                      "Nts: ssdp:byebye\r\n\r\n");
}

TEST(SsdpDevice, AnnouncesEveryTargetAndAnswersSearches)
{
    RawUdp group(true);
    DeviceProcess light("uuid:11111111-2222-3333-4444-555555555555", 31900);
    std::set<std::string> targets;
    for (const std::string &m : group.collect(2500ms)) {
        if (headerOf(m, "NTS") != "ssdp:alive")
            continue;
        targets.insert(headerOf(m, "NT"));
        EXPECT_EQ(headerOf(m, "LOCATION"), light.url());
    }
    EXPECT_EQ(targets, (std::set<std::string>{"upnp:rootdevice", "uuid:11111111-2222-3333-4444-555555555555",
                                              kLightType, kPowerType}));

    struct Case {
        const char *name;
        std::string request;
        std::set<std::string> answers; // St values expected back
    } cases[] = {
        {"ssdp:all by unicast", search("ssdp:all"),
         {"upnp:rootdevice", "uuid:11111111-2222-3333-4444-555555555555", kLightType, kPowerType}},
        {"root device", search("upnp:rootdevice"), {"upnp:rootdevice"}},
        {"service type", search(kPowerType), {kPowerType}},
        {"udn", search("uuid:11111111-2222-3333-4444-555555555555"), {"uuid:11111111-2222-3333-4444-555555555555"}},
        {"man without quotes", search("upnp:rootdevice", "ssdp:discover"), {"upnp:rootdevice"}},
        {"unknown service", search("urn:schemas-upnp-org:service:Dimming:1"), {}},
        {"vendor domain", search("urn:example-com:device:BinaryLight:1"), {}},
        {"target not *", search("upnp:rootdevice", "\"ssdp:discover\"", "/"), {}},
        {"wrong man", search("upnp:rootdevice", "ssdp:other"), {}},
    };
    for (const Case &c : cases) {
        RawUdp searcher(false);
        searcher.sendToGroup(c.request);
        std::set<std::string> got;
        // Answers come within the search's MX (1 s), at a random time.
        for (const std::string &m : searcher.collect(1300ms)) {
            EXPECT_EQ(m.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << c.name;
            EXPECT_EQ(headerOf(m, "EXT"), "") << c.name;
            EXPECT_EQ(headerOf(m, "LOCATION"), light.url()) << c.name;
            got.insert(headerOf(m, "ST"));
        }
        EXPECT_EQ(got, c.answers) << c.name;
    }
}

struct Heard {
    std::mutex lock;
    std::vector<std::pair<QN_ENTITY, int32_t>> messages;
    std::map<QN_ENTITY, std::string> locations;

    int count(QN_ENTITY e, int32_t type)
    {
        std::lock_guard guard(lock);
        int n = 0;
        for (auto &m : messages)
            n += m.first == e && m.second == type;
        return n;
    }
};
Heard heard;

QN_RET recordCp(QN_ENTITY e, int32_t type, QN_COOKIE, void *arg)
{
    std::lock_guard guard(heard.lock);
    heard.messages.emplace_back(e, type);
    if (type == MT_CP_ALIVE)
        heard.locations[e] = static_cast<const char *>(arg);
    return QN_OK;
}

using qntest::waitFor;

class ControlPoints : public testing::Test {
protected:
    void SetUp() override
    {
        setConsoleSink([](const char *) {});
        heard.messages.clear();
        heard.locations.clear();
        QNApiSdkConfig config{1, 0, 1 << 20, startThread, 0, 0};
        ASSERT_EQ(qnSdkInit(&config), QN_OK);
    }
    void TearDown() override
    {
        qnSdkClean();
        setConsoleSink(nullptr);
    }

    QN_CONTROL_POINT addCp(int cpType, const std::string &descFile, uint16_t eventPort)
    {
        return qntest::addRunningCp(cpType, descFile, recordCp, eventPort);
    }
};

// The console as an application without standard output receives it.
std::mutex consoleLock;
std::string consoleText;
void keepConsole(const char *text)
{
    std::lock_guard guard(consoleLock);
    consoleText += text;
}

TEST_F(ControlPoints, FindDescribeAndHearByebye)
{
    DeviceProcess light("uuid:aaaaaaaa-0000-0000-0000-000000000001", 31901);
    consoleText.clear();
    ASSERT_EQ(qnSetConsoleSink(keepConsole), QN_OK);
    QN_CONTROL_POINT cp = addCp(2, light.url(), 31801);
    ASSERT_EQ(qnSdkRun(), QN_OK);
    ASSERT_TRUE(waitFor([&] { return heard.count(cp, MT_CP_ALIVE) > 0; }));
    {
        std::lock_guard guard(heard.lock);
        EXPECT_EQ(heard.locations[cp], light.url());
    }
    char udn[QN_VAL_MAX_LEN];
    ASSERT_EQ(qnGetUdn(cp, udn, sizeof udn), 0);
    EXPECT_STREQ(udn, "uuid:aaaaaaaa-0000-0000-0000-000000000001");
    const char *list[QN_ARG_MAX_NUM];
    int32_t count = QN_ARG_MAX_NUM;
    ASSERT_EQ(qnGetActionList(cp, kPowerType, list, &count), 0);
    EXPECT_EQ(count, 3);
    count = QN_ARG_MAX_NUM;
    uint8_t events[QN_ARG_MAX_NUM];
    ASSERT_EQ(qnGetVarList(cp, kPowerType, list, events, &count), 0);
    EXPECT_EQ(count, 2);

    light.byebye();
    EXPECT_TRUE(waitFor([&] { return heard.count(cp, MT_CP_BYEBYE) > 0; }));
    // Each downloaded document is one console line with its URL and size;
    // the text itself goes only to the log, in detail.
    std::lock_guard guard(consoleLock);
    EXPECT_TRUE(std::regex_search(consoleText, std::regex(" get " + light.url() + ": [1-9][0-9]* bytes\r\n")))
        << consoleText;
    EXPECT_EQ(consoleText.find("<?xml"), std::string::npos);
}

TEST_F(ControlPoints, BoundControlPointsStayWithTheirDeviceAndHearOnlyItsByebye)
{
    std::vector<std::unique_ptr<DeviceProcess>> lights;
    std::vector<QN_CONTROL_POINT> cps;
    for (int i = 0; i < 3; ++i) {
        std::string udn = "uuid:bbbbbbbb-0000-0000-0000-00000000000" + std::to_string(i);
        lights.push_back(std::make_unique<DeviceProcess>(udn, static_cast<uint16_t>(31910 + i)));
        cps.push_back(addCp(2, lights.back()->url(), static_cast<uint16_t>(31810 + i)));
    }
    // A plain control point hears only what no bound one claims: the fourth device.
    DeviceProcess unclaimed("uuid:bbbbbbbb-0000-0000-0000-000000000009", 31919);
    QN_CONTROL_POINT plain = addCp(0, "", 31820);
    ASSERT_EQ(qnSdkRun(), QN_OK);
    for (size_t i = 0; i < cps.size(); ++i)
        ASSERT_TRUE(waitFor([&] { return heard.count(cps[i], MT_CP_ALIVE) > 0; })) << i;
    ASSERT_TRUE(waitFor([&] { return heard.count(plain, MT_CP_ALIVE) > 0; }));
    {
        std::lock_guard guard(heard.lock);
        EXPECT_EQ(heard.locations[plain], unclaimed.url());
    }
    // Let several announcement rounds pass: every bound control point keeps its own device.
    std::this_thread::sleep_for(2500ms);
    for (size_t i = 0; i < cps.size(); ++i) {
        char udn[QN_VAL_MAX_LEN];
        ASSERT_EQ(qnGetUdn(cps[i], udn, sizeof udn), 0) << i;
        EXPECT_EQ(std::string(udn), "uuid:bbbbbbbb-0000-0000-0000-00000000000" + std::to_string(i));
        std::lock_guard guard(heard.lock);
        EXPECT_EQ(heard.locations[cps[i]], lights[i]->url());
    }
    // A byebye carries no Location: it must end exactly the device it names,
    // whichever control point comes first in the server's table.
    for (size_t i = cps.size(); i-- > 0;) {
        lights[i]->byebye();
        ASSERT_TRUE(waitFor([&] { return heard.count(cps[i], MT_CP_BYEBYE) > 0; })) << i;
        for (size_t k = 0; k < i; ++k)
            EXPECT_EQ(heard.count(cps[k], MT_CP_BYEBYE), 0) << "device " << i << " ended control point " << k;
    }
    EXPECT_EQ(heard.count(plain, MT_CP_BYEBYE), 0);
}

std::string udnOf(QN_CONTROL_POINT cp)
{
    char udn[QN_VAL_MAX_LEN] = "";
    return qnGetUdn(cp, udn, sizeof udn) == 0 ? udn : "";
}

TEST_F(ControlPoints, SeveralRootDevicesBehindOnePort)
{
    qntest::Explorer &explorer = qntest::explorer;
    explorer.reset(recordCp);
    const std::vector<qntest::LightSpec> roots = {{"uuid:cccccccc-0000-0000-0000-00000000000a", 31930, "/a"},
                                                  {"uuid:cccccccc-0000-0000-0000-00000000000b", 31930, "/b"}};
    DeviceProcess process(roots);
    qntest::addRunningCp(0, "", qntest::exploreHandler);
    ASSERT_EQ(qnSdkRun(), QN_OK);
    auto tracked = [&] {
        qnLockModel();
        std::lock_guard guard(explorer.lock);
        bool all = explorer.bound.size() == roots.size();
        for (const auto &root : roots)
            all = all && explorer.bound.count(root.url()) != 0 && udnOf(explorer.bound[root.url()]) == root.udn;
        qnUnlockModel();
        return all;
    };
    ASSERT_TRUE(waitFor(tracked));
    // Announcement rounds of both roots: neither description replaces the other.
    std::this_thread::sleep_for(2500ms);
    EXPECT_TRUE(tracked());
}

// A raw ssdp:alive for the root device, as a device at location would send it.
std::string rootAlive(const std::string &udn, const std::string &location)
{
    return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: " +
           location + "\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nSERVER: test/1.0 UPnP/1.0\r\nUSN: " + udn +
           "::upnp:rootdevice\r\n\r\n";
}

// What the application saw of the model at each MT_CP_ALIVE, by location;
// it refuses the device at refusedUrl.
struct Offer {
    std::string location, udn;
    bool manufacturer;
};
struct Offers {
    std::mutex lock;
    std::string refusedUrl;
    std::vector<Offer> seen;

    bool has(const std::string &location)
    {
        std::lock_guard guard(lock);
        return std::any_of(seen.begin(), seen.end(), [&](const Offer &o) { return o.location == location; });
    }
};
Offers offers;

QN_RET refuseOne(QN_ENTITY e, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_CP_ALIVE)
        return QN_OK;
    const char *names[64], *values[64];
    int32_t count = 64;
    bool manufacturer = false;
    if (qnGetDevInfo(e, "", names, values, &count) == 0)
        for (int i = 0; i < count; ++i)
            manufacturer = manufacturer || (names[i] != nullptr && std::strcmp(names[i], "manufacturer") == 0);
    std::lock_guard guard(offers.lock);
    offers.seen.push_back({static_cast<const char *>(arg), udnOf(e), manufacturer});
    return offers.seen.back().location == offers.refusedUrl ? QN_ERR : QN_OK;
}

TEST_F(ControlPoints, DiscardedAndFailedDescriptionsLeaveNothingBehind)
{
    DeviceProcess refused("uuid:dddddddd-0000-0000-0000-000000000001", 31940);
    // A device that is not there yet: the first download from it fails.
    DeviceProcess late("uuid:dddddddd-0000-0000-0000-000000000003", 31941, false);
    {
        std::lock_guard guard(offers.lock);
        offers.seen.clear();
        offers.refusedUrl = refused.url();
    }
    qntest::addRunningCp(0, "", refuseOne);
    QN_CONTROL_POINT bound = addCp(2, late.url(), 31841);
    ASSERT_EQ(qnSdkRun(), QN_OK);
    ASSERT_TRUE(waitFor([&] { return offers.has(refused.url()); }));
    // The next device offered after the refusal cannot be described: the
    // application must see an empty model, not the refused one.
    const std::string nowhere = "http://127.0.0.1:31949/none.xml";
    RawUdp sender(false, "127.0.0.1");
    sender.sendToGroup(rootAlive("uuid:dddddddd-0000-0000-0000-000000000002", nowhere));
    sender.sendToGroup(rootAlive("uuid:dddddddd-0000-0000-0000-000000000003", late.url()));
    ASSERT_TRUE(waitFor([&] { return offers.has(nowhere); }));
    {
        std::lock_guard guard(offers.lock);
        for (const Offer &o : offers.seen) {
            EXPECT_EQ(o.udn, o.location == nowhere ? "" : "uuid:dddddddd-0000-0000-0000-000000000001") << o.location;
            EXPECT_EQ(o.manufacturer, o.location != nowhere) << o.location;
        }
    }
    ASSERT_TRUE(waitFor([&] { return heard.count(bound, MT_CP_ALIVE) > 0; }));
    EXPECT_EQ(udnOf(bound), "");
    // Once the device is there, the bound control point downloads again.
    late.start();
    EXPECT_TRUE(waitFor([&] { return udnOf(bound) == "uuid:dddddddd-0000-0000-0000-000000000003"; }));
}

TEST_F(ControlPoints, SearchesAskedForBeforeRunningGoOutOnce)
{
    RawUdp group(true);
    QNApiCtrlPointSettings s{};
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.msgHandler = recordCp;
    QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    ASSERT_NE(cp, QN_INVALID_CONTROL_POINT);
    ASSERT_EQ(qnSdkRun(), QN_OK);
    // Far more requests than the timer table has slots.
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(qnCPSearch(cp, "", 1800, nullptr), QN_OK);
    QNApiDevSettings d{};
    copyBounded(d.ipAddr, sizeof d.ipAddr, "127.0.0.1");
    d.httpPort = d.soapPort = 31950;
    copyBounded(d.localPath, sizeof d.localPath, qntest::exampleDir().c_str());
    copyBounded(d.webPath, sizeof d.webPath, "/");
    copyBounded(d.descFile, sizeof d.descFile, "BinaryLight.xml");
    d.msgHandler = qntest::ignoreAll;
    EXPECT_NE(qnAddDevice(&d), QN_INVALID_DEVICE) << "the searches filled the timer table";
    ASSERT_EQ(qnChangeEntityState(cp, ES_RUNNING), QN_OK);
    int searches = 0;
    for (const std::string &m : group.collect(2500ms))
        searches += m.rfind("M-SEARCH", 0) == 0;
    EXPECT_EQ(searches, 1);
}

} // namespace
