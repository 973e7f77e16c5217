// Hostile peers against a device and control points of the stack, one table
// of cases per kind of peer: searchers that flood or forge their source,
// devices that lie in their announcements and descriptions, subscribers
// and event senders that abuse GENA, and clients that ask the file service
// for names outside its tree. Every case is bounded in count and time and
// checks the documented answer or a silent drop; after each one the stack
// must still do its work: the device answers a fresh description GET and a
// SOAP action within 3 s, the bound control point still tracks its device
// (in another process) at the address it learnt, calls it and renews its
// subscription, and the device's existing subscriber still gets events.
#include "ctrlPoints.h"
#include "deviceProcess.h"
#include "gena.h"
#include "hostilePeer.h"
#include "lightStack.h"
#include "ssdpPace.h"
#include "waitFor.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <regex>
#include <set>

namespace {

using namespace qntest;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kDeviceUdn[] = "uuid:6a1e5c7e-3b0f-4c8e-9d41-0c1b2a3d4e5f"; // the example light's
constexpr char kVictimUdn[] = "uuid:77777777-0000-0000-0000-000000000001";
constexpr uint16_t kVictimPort = 34100;
constexpr char kHostileAddr[] = "10.77.0.1"; // the namespace's second host
constexpr auto kHealthy = 3s;

std::string sidOf(const std::string &answer)
{
    std::smatch m;
    return std::regex_search(answer, m, std::regex("\r\nSid: (uuid:[^\r]*)\r\n")) ? m[1].str() : "";
}

bool subscribed(const std::string &sid)
{
    std::lock_guard guard(stackLock());
    for (int i = 0; i < kMaxSubscriptions; ++i)
        if (subscriptionLive(subscriptionTable()[i], genaNow()) && sid == subscriptionTable()[i].sid)
            return true;
    return false;
}

std::string search(const std::string &st, const std::string &mx = "1")
{
    return "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: " + mx + "\r\nST: " +
           st + "\r\n\r\n";
}

std::string alive(const std::string &udn, const std::string &location, const std::string &maxAge = "1800")
{
    return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=" + maxAge +
           "\r\nLOCATION: " + location + "\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nSERVER: x UPnP/1.0 y\r\n"
           "USN: " + udn + "::upnp:rootdevice\r\n\r\n";
}

std::string byebye(const std::string &udn)
{
    return "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: upnp:rootdevice\r\nNTS: ssdp:byebye\r\nUSN: " +
           udn + "::upnp:rootdevice\r\n\r\n";
}

// The example light's description with another UDN, and with its URLs
// replaced when asked, as a hostile device serves it.
std::string describedAs(const std::string &udn, const std::string &urlBase = "", const std::string &scpd = "",
                        const std::string &control = "", const std::string &events = "")
{
    std::string xml = std::regex_replace(readFile(lightDir() + "/BinaryLight.xml"), std::regex("<UDN>[^<]*</UDN>"),
                                         "<UDN>" + udn + "</UDN>");
    if (!urlBase.empty())
        xml = std::regex_replace(xml, std::regex("<device>"), "<URLBase>" + urlBase + "</URLBase><device>",
                                 std::regex_constants::format_first_only);
    if (!scpd.empty())
        xml = std::regex_replace(xml, std::regex("<SCPDURL>[^<]*</SCPDURL>"), "<SCPDURL>" + scpd + "</SCPDURL>");
    if (!control.empty())
        xml = std::regex_replace(xml, std::regex("<controlURL>[^<]*</controlURL>"),
                                 "<controlURL>" + control + "</controlURL>");
    if (!events.empty())
        xml = std::regex_replace(xml, std::regex("<eventSubURL>[^<]*</eventSubURL>"),
                                 "<eventSubURL>" + events + "</eventSubURL>");
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(xml.size()) + "\r\n\r\n" +
           xml;
}

QNApiAction getStatus()
{
    QNApiAction a{};
    copyBounded(a.action, sizeof a.action, "GetStatus");
    return a;
}

// ---- The device's application: the light, files on request ------------------------------

std::atomic<int> fileRequests{0};

QN_RET deviceHandler(QN_ENTITY device, int32_t type, QN_COOKIE cookie, void *arg)
{
    if (type != MT_READ_FILE)
        return lightHandler(device, type, cookie, arg);
    ++fileRequests;
    auto *info = static_cast<QNApiFileInfo *>(arg);
    if (std::strcmp(info->fileName, "/big") != 0 || info->fileSize > 0)
        return QN_ERR;
    // Claims ten bytes and delivers a hundred: the answer carries ten.
    info->fileSize = 10;
    info->bufLen = 100;
    std::memset(info->buf, 'x', 100);
    return QN_OK;
}

// The plain control point's application: notes every Location offered, keeps nothing.
std::mutex offersLock;
std::set<std::string> offers;

QN_RET offersHandler(QN_ENTITY, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_CP_ALIVE)
        return QN_OK;
    std::lock_guard guard(offersLock);
    offers.insert(static_cast<const char *>(arg));
    return QN_ERR;
}

bool offered(const std::string &location)
{
    std::lock_guard guard(offersLock);
    return offers.count(location) != 0;
}

// ---- The fixture ---------------------------------------------------------------------------

struct Case {
    const char *name;
    std::function<void()> run;
};

class Attack : public LightStack {
protected:
    void SetUp() override
    {
        LightStack::SetUp();
        fileRequests = 0;
        {
            std::lock_guard guard(offersLock);
            offers.clear();
        }
        soapPort_ = freePort();
        filePort_ = freePort();
        QNApiDevSettings d = lightSettings("127.0.0.1", soapPort_, filePort_, deviceHandler);
        device_ = qnAddDevice(&d);
        ASSERT_NE(device_, QN_INVALID_DEVICE);
        ASSERT_EQ(qnChangeEntityState(device_, ES_RUNNING), QN_OK);

        eventPort_ = freePort();
        QNApiCtrlPointSettings bound = cpSettings(victim_.url(), eventPort_);
        cp_ = qnAddCtrlPoint(&bound, QN_INVALID_CONTROL_POINT);
        ASSERT_EQ(qnChangeEntityState(cp_, ES_RUNNING), QN_OK);
        QNApiCtrlPointSettings plain = cpSettings("", freePort());
        plain.cpType = CPT_PLAIN;
        plain.msgHandler = offersHandler;
        plain_ = qnAddCtrlPoint(&plain, QN_INVALID_CONTROL_POINT);
        ASSERT_EQ(qnChangeEntityState(plain_, ES_RUNNING), QN_OK);
        // A control point that keeps the address it recorded (not bound to a URL).
        QNApiCtrlPointSettings keeper = cpSettings("light.xml", freePort());
        keeper.cpType = 3;
        keeper_ = qnAddCtrlPoint(&keeper, QN_INVALID_CONTROL_POINT);
        ASSERT_TRUE(trackByHand(keeper_, lightDir() + "/BinaryLight.xml", "127.0.0.1", kVictimPort));
        ASSERT_EQ(qnChangeEntityState(keeper_, ES_RUNNING), QN_OK);

        ASSERT_TRUE(waitFor([&] { return tracksVictim(cp_); }, 10s)) << console();
        ASSERT_EQ(qnCPSubscribe(cp_, kSwitchPower, "/eventCB", 1800, cpSid_, sizeof cpSid_), QN_OK);
        subscriber_.serve("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        rawSid_ = sidOf(gena("SUBSCRIBE", "Callback: <http://127.0.0.1:" + std::to_string(subscriber_.port()) +
                                              "/ev>\r\nNt: upnp:event\r\n"));
        ASSERT_FALSE(rawSid_.empty());
        ASSERT_EQ(subscriber_.requests(1).size(), 1u); // the initial event
    }

    bool tracksVictim(QN_CONTROL_POINT cp)
    {
        qnLockModel();
        char udn[QN_VAL_MAX_LEN] = "";
        bool same = qnGetUdn(cp, udn, sizeof udn) == QN_OK && std::string(udn) == kVictimUdn;
        const QNRootDesc *desc = entityDesc(cp);
        bool active = desc != nullptr && desc->device.lastActive != 0;
        qnUnlockModel();
        return same && active;
    }

    // Where a control point connects for its device.
    std::string recordedAddress(QN_CONTROL_POINT cp)
    {
        std::lock_guard guard(stackLock());
        const QNRootDesc *desc = entityDesc(cp);
        if (desc == nullptr || desc->hostAddr == 0)
            return "";
        in_addr a{desc->hostAddr};
        return std::string(inet_ntoa(a)) + ":" + std::to_string(ntohs(desc->hostPort));
    }

    std::string gena(const std::string &method, const std::string &headers, const char *from = nullptr)
    {
        std::string request = method + " /SwitchPower/event HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(soapPort_) +
                              "\r\n" + headers + "\r\n";
        return exchange("127.0.0.1", soapPort_, request, 3000, from);
    }

    std::string getFile(const std::string &target, const std::string &method = "GET")
    {
        return exchange("127.0.0.1", filePort_,
                        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(filePort_) +
                            "\r\nContent-Length: 0\r\n\r\n");
    }

    std::string soapGetStatus()
    {
        std::string body = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                           "<s:Body><u:GetStatus xmlns:u=\"urn:schemas-upnp-org:service:SwitchPower:1\"/>"
                           "</s:Body></s:Envelope>";
        std::string request = "POST /SwitchPower/control HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(soapPort_) +
                              "\r\nSOAPAction: \"urn:schemas-upnp-org:service:SwitchPower:1#GetStatus\"\r\n"
                              "Content-Type: text/xml; charset=\"utf-8\"\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
        return exchange("127.0.0.1", soapPort_, request, 3000);
    }

    // What must hold after every case.
    void expectHealthy(const char *name)
    {
        auto start = Clock::now();
        std::string desc = getFile("/BinaryLight.xml");
        EXPECT_EQ(desc.rfind("HTTP/1.1 200 OK", 0), 0u) << name << ": description " << desc.substr(0, 60);
        EXPECT_NE(desc.find(kDeviceUdn), std::string::npos) << name;
        EXPECT_LT(Clock::now() - start, kHealthy) << name;
        start = Clock::now();
        std::string soap = soapGetStatus();
        EXPECT_EQ(soap.rfind("HTTP/1.1 200 OK", 0), 0u) << name << ": action " << soap.substr(0, 60);
        EXPECT_NE(soap.find("ResultStatus"), std::string::npos) << name;
        EXPECT_LT(Clock::now() - start, kHealthy) << name;

        std::string victimAt = "127.0.0.1:" + std::to_string(kVictimPort);
        EXPECT_TRUE(tracksVictim(cp_)) << name;
        EXPECT_EQ(recordedAddress(cp_), victimAt) << name;
        EXPECT_EQ(recordedAddress(keeper_), victimAt) << name;
        QNApiAction call = getStatus();
        EXPECT_EQ(qnCPSoapAction(cp_, kSwitchPower, &call), QN_OK) << name;
        char sid[64];
        copyBounded(sid, sizeof sid, cpSid_);
        EXPECT_EQ(qnCPSubscribe(cp_, kSwitchPower, "/eventCB", 1800, sid, sizeof sid), QN_OK) << name;
        EXPECT_STREQ(sid, cpSid_) << name;

        EXPECT_TRUE(subscribed(rawSid_)) << name;
        size_t before = subscriber_.requests().size();
        QNNameVal status{};
        qnSetNVNameVal(&status, "Status", "1");
        qnDevNotify(device_, kSwitchPower, &status, 1);
        EXPECT_EQ(subscriber_.requests(before + 1, 3000).size(), before + 1) << name << ": event";
    }

    void runCases(const std::vector<Case> &cases)
    {
        for (const Case &c : cases) {
            auto start = Clock::now();
            c.run();
            expectHealthy(c.name);
            std::printf("[ case     ] %s (%lld ms)\n", c.name,
                        static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
        }
    }

    DeviceProcess victim_{kVictimUdn, kVictimPort}; // forked before the stack runs
    uint16_t soapPort_ = 0, filePort_ = 0, eventPort_ = 0;
    QN_DEVICE device_ = QN_INVALID_DEVICE;
    QN_CONTROL_POINT cp_ = QN_INVALID_CONTROL_POINT;
    QN_CONTROL_POINT plain_ = QN_INVALID_CONTROL_POINT;
    QN_CONTROL_POINT keeper_ = QN_INVALID_CONTROL_POINT;
    char cpSid_[64] = "";
    std::string rawSid_;
    FakePeer subscriber_;
};

// ---- Searchers ---------------------------------------------------------------------------

size_t answersTo(const std::vector<AnswerSniffer::Seen> &seen, const char *addr, uint16_t port)
{
    uint32_t a = ipv4(addr, port).sin_addr.s_addr;
    size_t n = 0;
    for (const AnswerSniffer::Seen &s : seen)
        n += s.toAddr == a && s.toPort == port;
    return n;
}

TEST_F(Attack, Searchers)
{
    AnswerSniffer sniffer(kDeviceUdn);
    ForgedUdp forged;
    ASSERT_TRUE(sniffer.ready() && forged.ready()) << "raw sockets need the namespace's privileges";
    // A subnet that lies on no interface, yet has a route: an answer to it
    // would leave, and be seen.
    ASSERT_EQ(std::system("ip route add 192.0.2.0/24 dev lo 2>/dev/null || true"), 0);
    const std::string rootSearch = search("upnp:rootdevice");

    std::vector<Case> cases = {
        {"sources a search is not answered to",
         [&] {
             struct Source {
                 const char *addr;
                 uint16_t port;
                 bool answered;
             };
             const Source sources[] = {{"127.0.0.1", 7, false},     {"127.0.0.1", 19, false},
                                       {"127.0.0.1", 0, false},     {"127.0.0.1", 1023, false},
                                       {"192.0.2.7", 40000, false}, {"127.0.0.1", 1900, true},
                                       {"127.0.0.1", 40000, true}};
             sniffer.clear();
             for (const Source &s : sources)
                 ASSERT_TRUE(forged.send(s.addr, s.port, rootSearch));
             std::this_thread::sleep_for(1500ms);
             std::vector<AnswerSniffer::Seen> seen = sniffer.seen();
             for (const Source &s : sources)
                 EXPECT_EQ(answersTo(seen, s.addr, s.port), s.answered ? 1u : 0u) << s.addr << ":" << s.port;
         }},
        {"the same search again within a second",
         [&] {
             UdpPeer searcher;
             sniffer.clear();
             for (int i = 0; i < 5; ++i) {
                 searcher.sendTo(rootSearch);
                 std::this_thread::sleep_for(60ms);
             }
             std::this_thread::sleep_for(1300ms);
             EXPECT_EQ(sniffer.seen().size(), 1u);
         }},
        {"answers spread over the MX",
         [&] {
             std::vector<std::unique_ptr<UdpPeer>> searchers;
             for (int i = 0; i < 20; ++i)
                 searchers.push_back(std::make_unique<UdpPeer>());
             sniffer.clear();
             auto start = Clock::now();
             for (auto &s : searchers)
                 s->sendTo(search("upnp:rootdevice", "2"));
             std::this_thread::sleep_for(2500ms);
             std::vector<AnswerSniffer::Seen> seen = sniffer.seen();
             ASSERT_EQ(seen.size(), searchers.size());
             auto first = seen.front().at, last = seen.front().at;
             for (const AnswerSniffer::Seen &s : seen) {
                 first = std::min(first, s.at);
                 last = std::max(last, s.at);
                 EXPECT_LT(s.at - start, 2200ms);
             }
             EXPECT_GT(last - first, 400ms) << "all answers at once";
         }},
        {"an MX above 5 counts as 5",
         [&] {
             UdpPeer searcher;
             sniffer.clear();
             auto start = Clock::now();
             searcher.sendTo(search("upnp:rootdevice", "120"));
             ASSERT_TRUE(waitFor([&] { return !sniffer.seen().empty(); }, 5500ms));
             EXPECT_LT(sniffer.seen().front().at - start, 5200ms);
         }},
        {"datagrams of 0 bytes, 64 KiB and random bytes",
         [&] {
             UdpPeer sender;
             EXPECT_TRUE(sender.sendTo(""));
             EXPECT_TRUE(sender.sendTo(std::string(65507, 'M')));
             std::mt19937 random(17);
             std::string noise(65507, '\0');
             for (char &c : noise)
                 c = static_cast<char>(random());
             EXPECT_TRUE(sender.sendTo(noise));
             for (int i = 0; i < 300; ++i)
                 sender.sendTo(noise.substr(random() % 60000, random() % 1500));
             std::string cut = rootSearch.substr(0, rootSearch.size() - 3); // no blank line
             sender.sendTo(cut);
             std::this_thread::sleep_for(300ms);
         }},
        {"a flood of 2000 searches a second for 10 s",
         [&] {
             const std::vector<std::string> targets = {
                 search("upnp:rootdevice"), search(kDeviceUdn), search("ssdp:all", "3"),
                 search("urn:schemas-upnp-org:device:BinaryLight:1", "5"), search(kSwitchPower, "2")};
             std::vector<std::unique_ptr<UdpPeer>> searchers;
             for (int i = 0; i < 50; ++i)
                 searchers.push_back(std::make_unique<UdpPeer>());
             sniffer.clear();
             std::atomic<bool> flooding{true};
             std::atomic<long> sent{0};
             std::thread flood([&] {
                 auto next = Clock::now();
                 for (size_t i = 0; flooding; ++i) {
                     searchers[i % searchers.size()]->sendTo(targets[i % targets.size()]);
                     ++sent;
                     if (i % 20 == 19) {
                         next += 10ms;
                         std::this_thread::sleep_until(next);
                     }
                 }
             });
             auto start = Clock::now();
             std::vector<double> latencies;
             while (Clock::now() - start < 10s) {
                 auto t = Clock::now();
                 std::string answer = soapGetStatus();
                 latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
                 EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << "SOAP during the flood";
                 std::this_thread::sleep_for(100ms);
             }
             flooding = false;
             flood.join();
             std::this_thread::sleep_for(6s); // the last answers, paced
             std::vector<AnswerSniffer::Seen> seen = sniffer.seen();
             std::sort(latencies.begin(), latencies.end());
             std::printf("[ flood    ] %ld searches, %zu answers, busiest second %zu, SOAP p50 %.1f ms, max %.1f ms\n",
                         sent.load(), seen.size(), busiestWindow(seen, 1000ms), latencies[latencies.size() / 2],
                         latencies.back());
             EXPECT_GT(sent.load(), 15000);
             EXPECT_LE(busiestWindow(seen, 950ms), static_cast<size_t>(kSsdpAnswerRate));
             EXPECT_LT(latencies.back(), 3000.0);
         }},
    };
    runCases(cases);
}

// ---- Devices that lie -------------------------------------------------------------------

TEST_F(Attack, HostileDevices)
{
    const std::string victimAtHostile = "http://" + std::string(kHostileAddr) + ":" + std::to_string(kVictimPort) +
                                        "/BinaryLight.xml";
    std::vector<Case> cases = {
        {"a spoofed alive names the tracked device at another host, same port",
         [&] {
             UdpPeer from(kHostileAddr);
             from.sendTo(alive(kVictimUdn, victimAtHostile));
             std::this_thread::sleep_for(1500ms);
             // The plain control point may describe a new device there; the
             // bound one and the one that keeps its address stay with theirs.
             EXPECT_EQ(recordedAddress(cp_), "127.0.0.1:" + std::to_string(kVictimPort));
             EXPECT_EQ(recordedAddress(keeper_), "127.0.0.1:" + std::to_string(kVictimPort));
         }},
        {"a Location that names another host than the datagram's source",
         [&] {
             FakePeer third;
             third.serve(describedAs("uuid:77777777-0000-0000-0000-000000000002"));
             std::string location = "http://127.0.0.1:" + std::to_string(third.port()) + "/d.xml";
             UdpPeer from(kHostileAddr);
             from.sendTo(alive("uuid:77777777-0000-0000-0000-000000000002", location));
             EXPECT_TRUE(third.requests(1, 1500).empty()) << "fetched from a third host";
             EXPECT_FALSE(offered(location));
         }},
        {"a Location that names a host by name",
         [&] {
             FakePeer named;
             named.serve(describedAs("uuid:77777777-0000-0000-0000-000000000003"));
             UdpPeer from("127.0.0.1");
             from.sendTo(alive("uuid:77777777-0000-0000-0000-000000000003",
                               "http://localhost:" + std::to_string(named.port()) + "/d.xml"));
             EXPECT_TRUE(named.requests(1, 1500).empty()) << "a name was looked up";
         }},
        {"a Location that names the control point's own event port",
         [&] {
             UdpPeer from("127.0.0.1");
             from.sendTo(alive("uuid:77777777-0000-0000-0000-000000000004",
                               "http://127.0.0.1:" + std::to_string(eventPort_) + "/d.xml"));
             std::this_thread::sleep_for(200ms);
             auto start = Clock::now();
             EXPECT_EQ(getFile("/BinaryLight.xml").rfind("HTTP/1.1 200 OK", 0), 0u);
             EXPECT_LT(Clock::now() - start, 1s) << "the server thread fetched from itself";
         }},
        {"a max-age of years is held to a day",
         [&] {
             FakePeer hostile(kHostileAddr, 0);
             hostile.serve(describedAs("uuid:77777777-0000-0000-0000-000000000005"));
             std::string url = "http://" + std::string(kHostileAddr) + ":" + std::to_string(hostile.port()) + "/d.xml";
             QN_CONTROL_POINT other = addRunningCp(2, url, cpHandler);
             UdpPeer from(kHostileAddr);
             from.sendTo(alive("uuid:77777777-0000-0000-0000-000000000005", url, "999999999"));
             EXPECT_TRUE(waitFor([&] {
                 std::lock_guard guard(stackLock());
                 const QNRootDesc *desc = entityDesc(other);
                 return desc != nullptr && desc->device.lastActive != 0;
             }, 5s));
             {
                 std::lock_guard guard(stackLock());
                 EXPECT_EQ(entityDesc(other)->device.cacheControl, 24u * 60 * 60);
             }
             qnRemoveCtrlPoint(other);
         }},
        {"a description that sends control, events and SCPD to a third host",
         [&] {
             std::string third = "http://127.0.0.1:" + std::to_string(soapPort_);
             FakePeer hostile(kHostileAddr, 0);
             hostile.serve(describedAs("uuid:77777777-0000-0000-0000-000000000006", third + "/",
                                       third + "/SwitchPower.xml", "SwitchPower/control",
                                       third + "/SwitchPower/event"));
             std::string url = "http://" + std::string(kHostileAddr) + ":" + std::to_string(hostile.port()) + "/d.xml";
             QN_CONTROL_POINT other = addRunningCp(2, url, cpHandler, freePort());
             UdpPeer from(kHostileAddr);
             from.sendTo(alive("uuid:77777777-0000-0000-0000-000000000006", url));
             ASSERT_TRUE(waitFor([&] {
                 std::lock_guard guard(stackLock());
                 const QNRootDesc *desc = entityDesc(other);
                 return desc != nullptr && desc->device.lastActive != 0;
             }, 5s));
             size_t calls = lightApp.callList().size();
             QNApiAction call = getStatus();
             EXPECT_NE(qnCPSoapAction(other, kSwitchPower, &call), QN_OK);
             char sid[64] = "";
             EXPECT_NE(qnCPSubscribe(other, kSwitchPower, "/eventCB", 1800, sid, sizeof sid), QN_OK);
             EXPECT_EQ(lightApp.callList().size(), calls) << "the third host was called";
             qnRemoveCtrlPoint(other);
         }},
        {"a byebye for the tracked device from another host",
         [&] {
             UdpPeer from(kHostileAddr);
             from.sendTo(byebye(kVictimUdn));
             std::this_thread::sleep_for(150ms); // the device's own alive comes every second
             EXPECT_TRUE(tracksVictim(cp_));
         }},
        {"an event whose SID no subscription holds",
         [&] {
             size_t before = eventLog.waitFor(0, 0).size();
             std::string body = "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\"><e:property><Status>1"
                                "</Status></e:property></e:propertyset>";
             std::string notify = "NOTIFY /eventCB HTTP/1.1\r\nHost: 127.0.0.1\r\nNT: upnp:event\r\n"
                                  "NTS: upnp:propchange\r\nSID: uuid:00000000-1111-2222-3333-444444444444\r\n"
                                  "SEQ: 0\r\nContent-Type: text/xml\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\n\r\n" + body;
             EXPECT_EQ(exchange("127.0.0.1", eventPort_, notify).substr(0, 34), "HTTP/1.1 412 Precondition Failed\r\n");
             EXPECT_EQ(eventLog.waitFor(before + 1, 300).size(), before) << "a forged event reached the application";
         }},
        {"the event listener takes NOTIFY only",
         [&] {
             for (const char *method : {"GET", "SUBSCRIBE", "POST", "M-SEARCH"}) {
                 std::string answer = exchange("127.0.0.1", eventPort_,
                                               std::string(method) + " /eventCB HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
                 EXPECT_NE(answer.rfind("HTTP/1.1 200", 0), 0u) << method;
             }
         }},
    };
    runCases(cases);
}

// ---- Subscribers --------------------------------------------------------------------------

TEST_F(Attack, Subscribers)
{
    const std::string nt = "Nt: upnp:event\r\n";
    auto callbackTo = [](const std::string &urls) { return "Callback: " + urls + "\r\n"; };
    auto status = [](const std::string &answer) { return answer.substr(0, answer.find("\r\n")); };
    std::vector<Case> cases = {
        {"time-outs are held to a day and named",
         [&] {
             for (const char *asked : {"Second-infinite", "Second-99999999999"}) {
                 std::string answer = gena("SUBSCRIBE", callbackTo("<http://127.0.0.1:9/x>") + nt +
                                                            "Timeout: " + std::string(asked) + "\r\n");
                 EXPECT_NE(answer.find("\r\nTimeout: Second-86400\r\n"), std::string::npos) << asked << answer;
                 gena("UNSUBSCRIBE", "Sid: " + sidOf(answer) + "\r\n");
             }
         }},
        {"callbacks a subscription may not keep",
         [&] {
             std::string five;
             for (int i = 0; i < 5; ++i)
                 five += "<http://127.0.0.1:" + std::to_string(9000 + i) + "/x>";
             const std::string refused[] = {
                 five, "<>", "<http://127.0.0.1:9/x", "<http://127.0.0.1:0/x>", "<http://127.0.0.1:65536/x>",
                 "<https://127.0.0.1:9/x>", "<http://localhost:9/x>", "<http://10.77.0.1:9/x>",
                 "<http://127.0.0.1:9/" + std::string(600, 'a') + ">"};
             for (const std::string &cb : refused) {
                 std::string answer = status(gena("SUBSCRIBE", callbackTo(cb) + nt));
                 EXPECT_TRUE(answer == "HTTP/1.1 412 Precondition Failed" || answer == "HTTP/1.1 400 Bad Request")
                     << cb.substr(0, 80) << ": " << answer;
             }
         }},
        {"a callback without a port means port 80",
         [&] {
             FakePeer port80("127.0.0.1", 80);
             port80.serve("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
             std::string answer = gena("SUBSCRIBE", callbackTo("<http://127.0.0.1/ev80>") + nt);
             ASSERT_EQ(status(answer), "HTTP/1.1 200 OK");
             std::vector<std::string> got = port80.requests(1);
             ASSERT_EQ(got.size(), 1u);
             EXPECT_EQ(got[0].rfind("NOTIFY /ev80 HTTP/1.1\r\nHost: 127.0.0.1\r\n", 0), 0u) << got[0];
             gena("UNSUBSCRIBE", "Sid: " + sidOf(answer) + "\r\n");
         }},
        {"one subscriber address holds 32 subscriptions",
         [&] {
             std::vector<std::string> sids;
             auto from = [&](const char *addr) {
                 return gena("SUBSCRIBE", callbackTo("<http://" + std::string(addr) + ":9/x>") + nt, addr);
             };
             for (int i = 0; i < kMaxSubscriptionsPerSubscriber; ++i) {
                 std::string answer = from("127.0.0.9");
                 ASSERT_EQ(status(answer), "HTTP/1.1 200 OK") << i;
                 sids.push_back(sidOf(answer));
             }
             EXPECT_EQ(status(from("127.0.0.9")), "HTTP/1.1 500 Internal Server Error");
             std::string other = from("127.0.0.10");
             EXPECT_EQ(status(other), "HTTP/1.1 200 OK");
             sids.push_back(sidOf(other));
             for (const std::string &sid : sids)
                 EXPECT_EQ(status(gena("UNSUBSCRIBE", "Sid: " + sid + "\r\n")), "HTTP/1.1 200 OK");
         }},
        {"a SID no subscription holds",
         [&] {
             size_t calls = lightApp.callList().size();
             EXPECT_EQ(status(gena("UNSUBSCRIBE", "Sid: uuid:bogus\r\n")), "HTTP/1.1 412 Precondition Failed");
             EXPECT_EQ(status(gena("SUBSCRIBE", "Sid: uuid:bogus\r\n")), "HTTP/1.1 412 Precondition Failed");
             EXPECT_EQ(lightApp.callList().size(), calls) << "the application was asked";
         }},
    };
    runCases(cases);
}

// ---- File names -----------------------------------------------------------------------------

TEST_F(Attack, FileNames)
{
    auto status = [](const std::string &answer) { return answer.substr(0, answer.find("\r\n")); };
    std::vector<Case> cases = {
        {"names that would leave the published tree",
         [&] {
             const char *targets[] = {"/../BinaryLight.xml", "/a/../../etc/passwd", "/%2e%2e/etc/passwd",
                                      "/a/%2E%2e/%2e%2E/x",  "/a%2f..%2f..%2fx",    "/a\\..\\x",
                                      "/a%5c..%5cx",          "/x%00.xml",           "/C:/boot.ini",
                                      "/c%3a/boot.ini",       "/%252e%252e/x",       "/a/..",
                                      "http://127.0.0.1/BinaryLight.xml", "*",       "/%zz"};
             for (const char *target : targets) {
                 std::string answer = status(getFile(target));
                 EXPECT_TRUE(answer == "HTTP/1.1 400 Bad Request" || answer == "HTTP/1.1 404 Not Found")
                     << target << ": " << answer;
             }
             EXPECT_EQ(fileRequests.load(), 0) << "the application saw one of them";
         }},
        {"methods the file service does not take",
         [&] {
             for (const char *method : {"POST", "PUT", "DELETE", "M-POST", "SUBSCRIBE"}) {
                 std::string answer = status(getFile("/BinaryLight.xml", method));
                 // Methods outside the stack's table never reach the file service.
                 EXPECT_TRUE(answer == "HTTP/1.1 405 Method Not Allowed" || answer == "HTTP/1.1 501 Not Implemented" ||
                             answer.empty())
                     << method << ": " << answer;
                 EXPECT_NE(answer, "HTTP/1.1 200 OK") << method;
             }
             EXPECT_EQ(status(getFile("/BinaryLight.xml", "POST")), "HTTP/1.1 405 Method Not Allowed");
         }},
        {"an application that delivers more than its fileSize",
         [&] {
             std::string answer = getFile("/big");
             size_t body = answer.find("\r\n\r\n");
             ASSERT_NE(body, std::string::npos) << answer;
             EXPECT_EQ(answer.substr(body + 4), std::string(10, 'x'));
             EXPECT_NE(answer.find("Content-Length: 10\r\n"), std::string::npos);
         }},
    };
    runCases(cases);
}

} // namespace
