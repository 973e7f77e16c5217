// GENA eventing on real sockets: the stack's control point subscribing to
// the stack's device, raw subscribers and event listeners that check the
// bytes, hostile requests, delivery to several URLs, dead subscribers, a
// full table, and subscriptions that end with their device.
#include "gena.h"
#include "lightStack.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

using namespace qntest;

std::string subscribeRaw(uint16_t port, const std::string &headers, const std::string &method = "SUBSCRIBE",
                         const std::string &path = "/SwitchPower/event", const std::string &host = "")
{
    std::string hostValue = host.empty() ? "127.0.0.1:" + std::to_string(port) : host;
    std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + hostValue + "\r\n" + headers + "\r\n";
    return exchange("127.0.0.1", port, request);
}

std::string sidOf(const std::string &answer)
{
    std::smatch m;
    return std::regex_search(answer, m, std::regex("\r\nSid: (uuid:[^\r]*)\r\n")) ? m[1].str() : "";
}

std::string callbackTo(uint16_t port, const std::string &path = "/ev", const char *addr = "127.0.0.1")
{
    return "Callback: <http://" + std::string(addr) + ":" + std::to_string(port) + path + ">\r\n";
}

std::string eventBody(const std::vector<std::pair<std::string, std::string>> &vars)
{
    std::string body = "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">\n";
    for (const auto &[n, v] : vars)
        body += "<e:property>\n<" + n + ">" + v + "</" + n + ">\n</e:property>\n";
    return body + "</e:propertyset>\n\n";
}

std::string notifyOf(uint16_t port, const std::string &path, const std::string &sid, int seq,
                     const std::string &body)
{
    return "NOTIFY " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nNt: upnp:event\r\nNts: upnp:propchange\r\nSid: " + sid + "\r\nSeq: " + std::to_string(seq) +
           "\r\n\r\n" + body;
}

const Subscription *subscriptionOf(const std::string &sid)
{
    std::lock_guard guard(stackLock());
    for (int i = 0; i < kMaxSubscriptions; ++i)
        if (subscriptionTable()[i].id != 0 && sid == subscriptionTable()[i].sid)
            return &subscriptionTable()[i];
    return nullptr;
}

QNNameVal nv(const char *name, const char *val)
{
    QNNameVal out{};
    qnSetNVNameVal(&out, name, val);
    return out;
}

class Gena : public LightStack {};

// ---- The stack on both sides ---------------------------------------------------------

TEST_F(Gena, ControlPointSubscribesAndHearsEveryEvent)
{
    uint16_t port = 0;
    QN_DEVICE dev = addLight(&port);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);
    lightApp.notifyOnSet = true;

    char sid[64] = "";
    ASSERT_EQ(qnCPSubscribe(cp, kSwitchPower, "/eventCB", 300, sid, sizeof sid), QN_OK) << console();
    EXPECT_TRUE(std::regex_match(sid, std::regex("uuid:[0-9a-f-]{36}"))) << sid;
    std::vector<ReceivedEvent> events = eventLog.waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].cp, cp);
    EXPECT_EQ(events[0].sid, sid);
    EXPECT_EQ(events[0].vars, (std::vector<std::pair<std::string, std::string>>{{"Status", "0"}}));

    // An action whose handler sends an event; then two variables at once,
    // one of them holding markup.
    QNApiAction set{};
    copyBounded(set.action, sizeof set.action, "SetTarget");
    qnSetNVNameVal(&set.argNV[0], "newTargetValue", "1");
    set.argNum = 1;
    ASSERT_EQ(qnCPSoapAction(cp, kSwitchPower, &set), QN_OK);
    events = eventLog.waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].vars, (std::vector<std::pair<std::string, std::string>>{{"Status", "1"}}));
    const QNNameVal two[] = {nv("Status", "0"), nv("Target", "a<b&c")};
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, two, 2), 1);
    events = eventLog.waitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].vars, (std::vector<std::pair<std::string, std::string>>{{"Status", "0"}, {"Target", "a<b&c"}}));
    EXPECT_EQ(subscriptionOf(sid)->seq, 3u);

    // Renewal keeps the SID and sends nothing; after the cancellation no
    // event is sent any more.
    std::string before = sid;
    ASSERT_EQ(qnCPSubscribe(cp, kSwitchPower, "/eventCB", 300, sid, sizeof sid), QN_OK);
    EXPECT_EQ(before, sid);
    ASSERT_EQ(qnCPUnsubscribe(cp, kSwitchPower, sid), QN_OK);
    EXPECT_EQ(before, sid);
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, two, 1), 0);
    EXPECT_EQ(qnCPSubscribe(cp, kSwitchPower, "/eventCB", 300, sid, sizeof sid), QN_ERR); // renewal of a cancelled SID
    EXPECT_EQ(eventLog.waitFor(4, 300).size(), 3u);
    std::vector<std::string> calls = lightApp.callList();
    EXPECT_EQ(calls.front().rfind("subscribe <http://127.0.0.1:", 0), 0u) << calls.front();
}

// Two control points listen on one event port; each event reaches the one
// that holds its SID.
TEST_F(Gena, EventsReachTheControlPointThatSubscribed)
{
    uint16_t port = 0;
    QN_DEVICE dev = addLight(&port);
    uint16_t shared = 0;
    QN_CONTROL_POINT first = addTracker("127.0.0.1", port, &shared);
    QNApiCtrlPointSettings s = cpSettings("http://127.0.0.1:" + std::to_string(port) + "/BinaryLight.xml", shared);
    QN_CONTROL_POINT second = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    ASSERT_TRUE(trackByHand(second, lightDir() + "/BinaryLight.xml", "127.0.0.1", port));

    char sid2[64] = "";
    ASSERT_EQ(qnCPSubscribe(second, kSwitchPower, "/eventCB", 300, sid2, sizeof sid2), QN_OK);
    ASSERT_EQ(eventLog.waitFor(1).size(), 1u);
    char sid1[64] = "";
    ASSERT_EQ(qnCPSubscribe(first, kSwitchPower, "/eventCB", 300, sid1, sizeof sid1), QN_OK);
    ASSERT_EQ(eventLog.waitFor(2).size(), 2u);
    const QNNameVal status = nv("Status", "1");
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, &status, 1), 2);
    std::vector<ReceivedEvent> events = eventLog.waitFor(4);
    ASSERT_EQ(events.size(), 4u);
    for (const ReceivedEvent &e : events)
        EXPECT_EQ(e.cp, e.sid == sid1 ? first : second) << e.sid;
}

// ---- Raw subscribers --------------------------------------------------------------------

TEST_F(Gena, SubscriptionAnswerAndEventsByteForByte)
{
    uint16_t port = 0;
    QN_DEVICE dev = addLight(&port);
    FakePeer listener;
    listener.serve("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    std::string answer = subscribeRaw(port, callbackTo(listener.port(), "/ZentrovaEvent") +
                                                "Nt: upnp:event\r\nTimeout: Second-300\r\n");
    EXPECT_TRUE(std::regex_match(answer, std::regex("HTTP/1\\.1 200 OK\r\n"
                                                    "Date: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} "
                                                    "\\d\\d:\\d\\d:\\d\\d GMT\r\n"
                                                    "Sid: uuid:[0-9a-f-]{36}\r\n"
                                                    "Timeout: Second-1801\r\n"
                                                    "Server: Corvanta UPnP Server, UPnP/1\\.0\r\n\r\n")))
        << answer;
    std::string sid = sidOf(answer);
    std::vector<std::string> got = listener.requests(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], notifyOf(listener.port(), "/ZentrovaEvent", sid, 0, eventBody({{"Status", "0"}})));

    const QNNameVal vars[] = {nv("Status", "1"), nv("Target", "1")};
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, vars, 2), 1);
    got = listener.requests(2);
    ASSERT_EQ(got.size(), 2u);
    std::string body = eventBody({{"Status", "1"}, {"Target", "1"}});
    EXPECT_EQ(got[1], notifyOf(listener.port(), "/ZentrovaEvent", sid, 1, body));
    EXPECT_EQ(lightApp.callList(), (std::vector<std::string>{"subscribe <http://127.0.0.1:" +
                                                                 std::to_string(listener.port()) + "/ZentrovaEvent>",
                                                             "var Status"}));
}

TEST_F(Gena, GrantedTimeouts)
{
    uint16_t port = 0;
    addLight(&port);
    struct Case {
        const char *name;
        std::string timeout; // the header line, or none
        uint32_t seconds;    // granted, and named in the answer
    };
    const Case cases[] = {
        {"no Timeout", "", kMinSubscriptionSeconds},
        {"short: raised to the minimum", "Timeout: Second-300\r\n", kMinSubscriptionSeconds},
        {"longer than the minimum", "Timeout: Second-4000\r\n", 4000},
        {"infinite: a day", "Timeout: Second-infinite\r\n", kMaxSubscriptionSeconds},
        {"beyond a day: a day", "Timeout: Second-999999999999\r\n", kMaxSubscriptionSeconds},
        {"nothing after the prefix", "Timeout: Second-\r\n", kMinSubscriptionSeconds},
        {"prefix in another case", "Timeout: second-4000\r\n", kMinSubscriptionSeconds},
        {"not a number", "Timeout: Second-abc\r\n", kMinSubscriptionSeconds},
    };
    for (const Case &c : cases) {
        // The callback names no port: events go to port 80, where nobody listens.
        std::string answer = subscribeRaw(port, "Callback: <http://127.0.0.1/x>\r\nNt: upnp:event\r\n" + c.timeout);
        std::string named = "\r\nTimeout: Second-" + std::to_string(c.seconds) + "\r\n";
        ASSERT_NE(answer.find(named), std::string::npos) << c.name << answer;
        const Subscription *sub = subscriptionOf(sidOf(answer));
        ASSERT_NE(sub, nullptr) << c.name;
        uint32_t left = sub->expiry - genaNow();
        EXPECT_LE(left, c.seconds) << c.name;
        EXPECT_GE(left + 2, c.seconds) << c.name;
    }
    EXPECT_NE(console().find(" NULL Timeout\r\n"), std::string::npos);
    EXPECT_NE(console().find(" timeOut = 86400\r\n"), std::string::npos);
}

TEST_F(Gena, DeviceChecksEveryRequest)
{
    uint16_t port = 0;
    addLight(&port);
    std::string valid = sidOf(subscribeRaw(port, "Callback: <http://127.0.0.1/x>\r\nNt: upnp:event\r\n"));
    ASSERT_FALSE(valid.empty());
    const std::string nt = "Nt: upnp:event\r\n";
    const std::string cb = "Callback: <http://127.0.0.1/x>\r\n";
    struct Case {
        const char *name;
        std::string method, path, host, headers;
        std::string expected; // status line, or empty: closed without an answer
        const char *console;
    };
    const Case cases[] = {
        {"Host names another port", "SUBSCRIBE", "/SwitchPower/event", "127.0.0.1:80", cb + nt, "",
         " host = 127.0.0.1:"},
        {"another path", "SUBSCRIBE", "/SwitchPower/Event", "", cb + nt, "", " getScpdByEventSubUrl() retusn NULL\r\n"},
        {"wrong Nt", "SUBSCRIBE", "/SwitchPower/event", "", cb + "Nt: upnp:propchange\r\n",
         "HTTP/1.1 412 Precondition Failed", " subscribe: NT = upnp:propchange\r\n"},
        {"no Callback", "SUBSCRIBE", "/SwitchPower/event", "", nt, "HTTP/1.1 412 Precondition Failed",
         " NULL callback\r\n"},
        {"Sid with Nt", "SUBSCRIBE", "/SwitchPower/event", "", cb + nt + "Sid: " + valid + "\r\n",
         "HTTP/1.1 400 Bad Request", " subscribe: SID\r\n"},
        {"Callback to another host", "SUBSCRIBE", "/SwitchPower/event", "", callbackTo(8080, "/x", "10.77.0.1") + nt,
         "HTTP/1.1 412 Precondition Failed", " subscribe: bad callback\r\n"},
        {"one of several URLs to another host", "SUBSCRIBE", "/SwitchPower/event", "",
         "Callback: <http://127.0.0.1:8/a><http://10.77.0.1:8/b>\r\n" + nt, "HTTP/1.1 412 Precondition Failed",
         nullptr},
        {"Callback without a usable URL", "SUBSCRIBE", "/SwitchPower/event", "",
         "Callback: <https://127.0.0.1:8/a>\r\n" + nt, "HTTP/1.1 412 Precondition Failed", nullptr},
        {"renewal with Callback", "SUBSCRIBE", "/SwitchPower/event", "", cb + "Sid: " + valid + "\r\n",
         "HTTP/1.1 400 Bad Request", " renewal: CALLBACK\r\n"},
        {"renewal without Sid", "SUBSCRIBE", "/SwitchPower/event", "", "", "HTTP/1.1 412 Precondition Failed",
         " renewal: NULL sid\r\n"},
        {"renewal of an unknown SID", "SUBSCRIBE", "/SwitchPower/event", "", "Sid: uuid:0-1\r\n",
         "HTTP/1.1 412 Precondition Failed", " renewal: NULL sub\r\n"},
        {"renewal of a SID cut short", "SUBSCRIBE", "/SwitchPower/event", "",
         "Sid: " + valid.substr(0, valid.size() - 1) + "\r\n", "HTTP/1.1 412 Precondition Failed", nullptr},
        {"cancellation without Sid", "UNSUBSCRIBE", "/SwitchPower/event", "", "", "HTTP/1.1 412 Precondition Failed",
         " unsubscribe: NULL sid\r\n"},
        {"cancellation of an unknown SID", "UNSUBSCRIBE", "/SwitchPower/event", "", "Sid: uuid:0-1\r\n",
         "HTTP/1.1 412 Precondition Failed", " unsubscribe: NULL sub\r\n"},
        {"cancellation with Nt", "UNSUBSCRIBE", "/SwitchPower/event", "", "Sid: " + valid + "\r\n" + nt,
         "HTTP/1.1 400 Bad Request", " unsubscribe: SID with cb or nt\r\n"},
        {"a valid renewal", "SUBSCRIBE", "/SwitchPower/event", "", "Sid: " + valid + "\r\n", "HTTP/1.1 200 OK",
         nullptr},
        {"a valid cancellation", "UNSUBSCRIBE", "/SwitchPower/event", "", "Sid: " + valid + "\r\n",
         "HTTP/1.1 200 OK\r\nServer: Corvanta UPnP Server, UPnP/1.0\r\n\r\n", nullptr},
        {"the same again", "UNSUBSCRIBE", "/SwitchPower/event", "", "Sid: " + valid + "\r\n",
         "HTTP/1.1 412 Precondition Failed", nullptr},
    };
    for (const Case &c : cases) {
        clearConsole();
        std::string answer = subscribeRaw(port, c.headers, c.method, c.path, c.host);
        if (c.expected.empty()) {
            EXPECT_EQ(answer, "") << c.name;
        } else {
            EXPECT_EQ(answer.substr(0, c.expected.size()), c.expected) << c.name << ": " << answer;
        }
        if (c.console != nullptr) {
            EXPECT_NE(console().find(c.console), std::string::npos) << c.name << ": " << console();
        }
    }
}

TEST_F(Gena, ApplicationDeclines)
{
    uint16_t port = 0;
    addLight(&port);
    std::string sid = sidOf(subscribeRaw(port, "Callback: <http://127.0.0.1/x>\r\nNt: upnp:event\r\n"));
    lightApp.refuseSubscribe = true;
    EXPECT_EQ(subscribeRaw(port, "Callback: <http://127.0.0.1/x>\r\nNt: upnp:event\r\n").substr(0, 34),
              "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(subscribeRaw(port, "Sid: " + sid + "\r\n").substr(0, 34), "HTTP/1.1 500 Internal Server Error");
    // A cancellation cannot be declined.
    EXPECT_EQ(subscribeRaw(port, "Sid: " + sid + "\r\n", "UNSUBSCRIBE").substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(console().find(" subscribe: user declined\r\n"), std::string::npos);
}

// A variable the application cannot give: the subscription is granted and
// no event goes out; the sequence number stays at 0.
TEST_F(Gena, InitialEventNeedsEveryValue)
{
    uint16_t port = 0;
    addLight(&port);
    FakePeer listener;
    listener.serve("");
    lightApp.refuseVars = true;
    std::string answer = subscribeRaw(port, callbackTo(listener.port()) + "Nt: upnp:event\r\n");
    ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u);
    EXPECT_TRUE(waitForConsole(" onGetVarVal(Status) failed\r\n"));
    EXPECT_EQ(subscriptionOf(sidOf(answer))->seq, 0u);
    EXPECT_TRUE(listener.requests(1, 300).empty());
}

// Delivery URLs are tried in order: a refused one and one that never
// accepts (its backlog full, the SYN dropped) are passed over, the latter
// after a bounded wait, and the next URL gets the event.
TEST_F(Gena, DeliveryPassesOverDeadUrls)
{
    uint16_t port = 0;
    addLight(&port);
    FakePeer good;
    good.serve("");
    uint16_t refused = freePort();
    FakePeer hole(kFirstAddr, 0, 0); // listens, never accepts
    std::vector<int> fillers;          // connects that fill its backlog
    for (int i = 0; i < 4; ++i) {
        int fd = connectLoopback(hole.port(), false);
        fillers.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string callback = "Callback: <http://127.0.0.1:" + std::to_string(refused) + "/a> <http://127.0.0.1:" +
                           std::to_string(hole.port()) + "/b><http://127.0.0.1:" + std::to_string(good.port()) +
                           "/c>\r\nNt: upnp:event\r\n";
    auto start = std::chrono::steady_clock::now();
    std::string answer = subscribeRaw(port, callback);
    ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u);
    std::vector<std::string> got = good.requests(1);
    auto spent = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].rfind("NOTIFY /c HTTP/1.1\r\n", 0), 0u);
    // The black hole cost its bounded connect and no more.
    EXPECT_LT(spent, std::chrono::milliseconds(kNotifyConnectWaitMs * 3));
    EXPECT_EQ(subscriptionOf(sidOf(answer))->seq, 1u);
    for (int fd : fillers)
        close(fd);
}

// The table holds kMaxSubscriptions, of which one subscriber address holds
// at most kMaxSubscriptionsPerSubscriber: the table is filled from several
// loopback addresses.
TEST_F(Gena, FullTableRefusesTheNextSubscription)
{
    uint16_t port = 0;
    addLight(&port);
    auto subscribeFrom = [&](int host) {
        std::string from = "127.0.0." + std::to_string(host);
        std::string request = "SUBSCRIBE /SwitchPower/event HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nCallback: <http://" + from + "/x>\r\nNt: upnp:event\r\n\r\n";
        return exchange("127.0.0.1", port, request, 3000, from.c_str());
    };
    for (int i = 0; i < kMaxSubscriptions; ++i) {
        std::string answer = subscribeFrom(2 + i / kMaxSubscriptionsPerSubscriber);
        ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << i;
    }
    EXPECT_EQ(subscribeFrom(100).substr(0, 34), "HTTP/1.1 500 Internal Server Error");
    EXPECT_NE(console().find(" no mem\r\n"), std::string::npos);
    // An expired slot is free again.
    {
        std::lock_guard guard(stackLock());
        subscriptionTable()[7].expiry = genaNow() - 1;
    }
    EXPECT_EQ(subscribeFrom(100).substr(0, 15), "HTTP/1.1 200 OK");
}

// Subscriptions end with their device: a device added into the same slot
// does not inherit them.
TEST_F(Gena, SubscriptionsEndWithTheirDevice)
{
    uint16_t port = 0;
    QN_DEVICE dev = addLight(&port);
    FakePeer listener;
    listener.serve("");
    std::string sid = sidOf(subscribeRaw(port, callbackTo(listener.port()) + "Nt: upnp:event\r\n"));
    ASSERT_EQ(listener.requests(1).size(), 1u);
    // Expired subscriptions get no events either.
    std::string expired = sidOf(subscribeRaw(port, callbackTo(listener.port()) + "Nt: upnp:event\r\n"));
    ASSERT_EQ(listener.requests(2).size(), 2u);
    {
        std::lock_guard guard(stackLock());
        const_cast<Subscription *>(subscriptionOf(expired))->expiry = genaNow() - 1;
    }
    const QNNameVal status = nv("Status", "1");
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, &status, 1), 1);
    EXPECT_EQ(qnRemoveDevice(dev), 0);
    EXPECT_EQ(subscriptionOf(sid), nullptr);
    uint16_t again = 0;
    QN_DEVICE next = addLight(&again);
    EXPECT_EQ(next, dev);
    EXPECT_EQ(qnDevNotify(next, kSwitchPower, &status, 1), 0);
    EXPECT_EQ(listener.requests(4, 300).size(), 3u);
}

TEST_F(Gena, NotifyArgumentChecks)
{
    uint16_t port = 0;
    QN_DEVICE dev = addLight(&port);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);
    QNNameVal vars[QN_ARG_MAX_NUM + 1]{};
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, vars, QN_ARG_MAX_NUM + 1), QN_ERR_ARG);
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, vars, -1), QN_ERR_ARG);
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, nullptr, 1), QN_ERR_ARG);
    EXPECT_EQ(qnDevNotify(dev, nullptr, vars, 1), QN_ERR_ARG);
    EXPECT_EQ(qnDevNotify(dev, "urn:x:service:None:1", vars, 1), QN_ERR_ARG);
    EXPECT_EQ(qnDevNotify(cp, kSwitchPower, vars, 1), QN_ERR_ARG);
    EXPECT_EQ(qnDevNotify(dev, kSwitchPower, nullptr, 0), 0); // no subscribers
}

// ---- The control point's side ------------------------------------------------------------

TEST_F(Gena, ControlPointRequestsByteForByte)
{
    FakePeer device;
    std::vector<std::string> captured = wireMessages(dataPath("wire/minidlna/gena-subscribe.txt"));
    ASSERT_EQ(captured.size(), 2u);
    device.serve(captured[1]);
    uint16_t events = 0;
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", device.port(), &events);
    std::string host = "127.0.0.1:" + std::to_string(device.port());

    char sid[64] = "";
    ASSERT_EQ(qnCPSubscribe(cp, kSwitchPower, "/ignored", 300, sid, sizeof sid), QN_OK);
    EXPECT_STREQ(sid, "uuid:bb0682e8-f30f-11f1-aa16-215c8caafccb");
    ASSERT_EQ(qnCPSubscribe(cp, kSwitchPower, "/ignored", 600, sid, sizeof sid), QN_OK);
    ASSERT_EQ(qnCPUnsubscribe(cp, kSwitchPower, sid), QN_OK);
    char small[10] = "";
    ASSERT_EQ(qnCPSubscribe(cp, kSwitchPower, "/ignored", 300, small, sizeof small), QN_OK);
    EXPECT_STREQ(small, "uuid:bb06"); // cut to the caller's buffer
    std::vector<std::string> requests = device.requests(4);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0], "SUBSCRIBE /SwitchPower/event HTTP/1.1\r\nHost: " + host +
                               "\r\nCallback: <http://127.0.0.1:" + std::to_string(events) +
                               "/eventCB>\r\nNt: upnp:event\r\nTimeout: Second-300\r\n\r\n");
    EXPECT_EQ(requests[1], "SUBSCRIBE /SwitchPower/event HTTP/1.1\r\nHost: " + host +
                               "\r\nSid: uuid:bb0682e8-f30f-11f1-aa16-215c8caafccb\r\nTimeout: Second-600\r\n\r\n");
    EXPECT_EQ(requests[2], "UNSUBSCRIBE /SwitchPower/event HTTP/1.1\r\nHost: " + host +
                               "\r\nSid: uuid:bb0682e8-f30f-11f1-aa16-215c8caafccb\r\n\r\n");
}

TEST_F(Gena, ControlPointArgumentAndStateChecks)
{
    uint16_t port = 0;
    QN_DEVICE dev = addLight(&port);
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", port);
    QN_CONTROL_POINT unreachable = addTracker("127.0.0.1", freePort());
    char sid[64] = "";
    EXPECT_EQ(qnCPSubscribe(dev, kSwitchPower, "/cb", 300, sid, sizeof sid), QN_ERR_ARG);
    EXPECT_EQ(qnCPSubscribe(cp, kSwitchPower, nullptr, 300, sid, sizeof sid), QN_ERR_ARG);
    EXPECT_EQ(qnCPSubscribe(cp, kSwitchPower, "/cb", 300, nullptr, 64), QN_ERR_ARG);
    EXPECT_EQ(qnCPSubscribe(cp, kSwitchPower, "/cb", 300, sid, 0), QN_ERR_ARG);
    EXPECT_EQ(qnCPSubscribe(cp, "urn:x:service:None:1", "/cb", 300, sid, sizeof sid), QN_ERR_ARG);
    EXPECT_EQ(qnCPUnsubscribe(cp, kSwitchPower, ""), QN_ERR_ARG);
    EXPECT_EQ(qnCPSubscribe(unreachable, kSwitchPower, "/cb", 300, sid, sizeof sid), QN_ERR_SOCK);
    EXPECT_STREQ(sid, "");
    lightApp.refuseSubscribe = true;
    EXPECT_EQ(qnCPSubscribe(cp, kSwitchPower, "/cb", 300, sid, sizeof sid), QN_ERR); // answered 500
    EXPECT_STREQ(sid, "");
    entityDesc(cp)->device.lastActive = 0;
    EXPECT_EQ(qnCPSubscribe(cp, kSwitchPower, "/cb", 300, sid, sizeof sid), QN_ERR);
    entityDesc(cp)->device.lastActive = 1;
    qnChangeEntityState(cp, ES_STOPPED);
    EXPECT_EQ(qnCPSubscribe(cp, kSwitchPower, "/cb", 300, sid, sizeof sid), QN_ERR);
    EXPECT_NE(console().find(" invalid args\r\n"), std::string::npos);
}

// The event listener takes NOTIFY requests on any path, for a SID one of
// its control points holds; a property set it cannot read, or an
// application that refuses the event, gets no 200.
TEST_F(Gena, EventListenerAnswers)
{
    std::vector<std::string> captured = wireMessages(dataPath("wire/network-light/gena-initial-notify.txt"));
    ASSERT_EQ(captured.size(), 1u);
    const std::string knownSid = "uuid:c229a855-ef6d-450e-8728-19c0a611c3fa";
    FakePeer device;
    device.serve("HTTP/1.1 200 OK\r\nSid: " + knownSid + "\r\nTimeout: Second-1800\r\n\r\n");
    uint16_t events = 0;
    QN_CONTROL_POINT cp = addTracker("127.0.0.1", device.port(), &events);
    char sid[64] = "";
    ASSERT_EQ(qnCPSubscribe(cp, kSwitchPower, "/eventCB", 1800, sid, sizeof sid), QN_OK);
    ASSERT_EQ(knownSid, sid);

    std::string notify = captured[0];
    std::string from = "NOTIFY /gena HTTP/1.1";
    ASSERT_EQ(notify.rfind(from, 0), 0u);
    notify.replace(0, from.size(), "NOTIFY /any/path HTTP/1.1");
    ASSERT_NE(notify.find("SID: " + knownSid), std::string::npos) << notify;
    EXPECT_EQ(exchange("127.0.0.1", events, notify),
              "HTTP/1.1 200 OK\r\nServer: Corvanta UPnP Server, UPnP/1.0\r\n\r\n");
    std::vector<ReceivedEvent> got = eventLog.waitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].cp, cp);
    EXPECT_EQ(got[0].sid, knownSid);
    EXPECT_EQ(got[0].vars, (std::vector<std::pair<std::string, std::string>>{{"Status", "0"}}));

    std::string unknown = notify;
    unknown.replace(unknown.find(knownSid), knownSid.size(), "uuid:00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(exchange("127.0.0.1", events, unknown).substr(0, 34), "HTTP/1.1 412 Precondition Failed\r\n");
    std::string bad = "NOTIFY /x HTTP/1.1\r\nNT: upnp:event\r\nNTS: upnp:propchange\r\nSID: " + knownSid +
                      "\r\nContent-Length: 7\r\n\r\n<html/>";
    EXPECT_EQ(exchange("127.0.0.1", events, bad), "");
    eventLog.answer = QN_ERR;
    EXPECT_EQ(exchange("127.0.0.1", events, notify), "");
    EXPECT_NE(console().find(" onEvent() error.\r\n"), std::string::npos);
    EXPECT_EQ(eventLog.waitFor(2).size(), 2u);
}

} // namespace
