// The server loop on real sockets inside the test's private network: raw
// clients connect, send and read, as any peer would.
#include "log.h"
#include "netns.h"
#include "rawnet.h"
#include "server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using qntest::exchange;
using qntest::RawConn;

// A test role: takes GET requests for its path and answers with its body.
struct PathRole {
    MsgHandler handler{};
    SockInfo wanted{};
    std::string path;
    std::string body;
    std::atomic<int> served{0};
};

int matchPath(MsgHandler *h)
{
    auto *role = static_cast<PathRole *>(h->priv);
    return h->msg->method == HM_GET && role->path == h->msg->uri ? 0 : -1;
}

int answerPath(MsgHandler *h)
{
    auto *role = static_cast<PathRole *>(h->priv);
    ++role->served;
    HttpHeader type{HH_CONTENT_TYPE, "text/plain"};
    return httpSendResponse(h, 200, &type, 1, role->body.c_str(), static_cast<uint32_t>(role->body.size()));
}

// Roles outlive the server loop that calls them: the fixture releases them
// only after the loop has ended.
std::vector<std::unique_ptr<PathRole>> ownedRoles;

PathRole *makeRole(uint16_t port, const std::string &path, const std::string &body)
{
    ownedRoles.push_back(std::make_unique<PathRole>());
    PathRole *role = ownedRoles.back().get();
    role->path = path;
    role->body = body;
    sockInit(&role->wanted, "127.0.0.1", "", port, SP_TCP_SERVER, 0);
    role->handler.entity = 0;
    role->handler.sock = &role->wanted;
    role->handler.match = matchPath;
    role->handler.handle = answerPath;
    role->handler.priv = role;
    return role;
}

std::string get(uint16_t port, const std::string &path)
{
    return exchange("127.0.0.1", port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

bool answered(const std::string &response, const std::string &body)
{
    return response.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && response.size() >= body.size() &&
           response.compare(response.size() - body.size(), body.size(), body) == 0;
}

std::vector<std::string> consoleLines;
std::mutex consoleMutex;
void recordConsole(const char *text)
{
    std::lock_guard guard(consoleMutex);
    consoleLines.emplace_back(text);
}

class ServerLoop : public testing::Test {
protected:
    void SetUp() override
    {
        {
            std::lock_guard guard(consoleMutex);
            consoleLines.clear();
        }
        setConsoleSink(recordConsole);
    }

    void start()
    {
        setRunState(nullptr, ES_RUNNING);
        timerEnable(true);
        loop_ = std::thread([] { serverLoop(); });
    }

    void stop()
    {
        setRunState(nullptr, ES_STOPPED);
        if (loop_.joinable())
            loop_.join();
    }

    void TearDown() override
    {
        stop();
        serverReset();
        ownedRoles.clear();
        setConsoleSink(nullptr);
    }

    void addRunning(PathRole &role)
    {
        ASSERT_EQ(regHandler(&role.handler), 0);
        ASSERT_EQ(setRunState(&role.handler, ES_RUNNING), 0);
    }

    std::thread loop_;
};

TEST_F(ServerLoop, AnswersOverLoopbackAndSharesOnePortBetweenRoles)
{
    uint16_t port = qntest::freePort();
    auto a = makeRole(port, "/a", "alpha");
    auto b = makeRole(port, "/b", "beta");
    addRunning(*a);
    addRunning(*b);
    start();
    EXPECT_TRUE(answered(get(port, "/a"), "alpha"));
    EXPECT_TRUE(answered(get(port, "/b"), "beta"));
    EXPECT_TRUE(answered(get(port, "/a"), "alpha"));
    EXPECT_EQ(a->served, 2);
    EXPECT_EQ(b->served, 1);
    // Nobody takes this one: the connection is closed without an answer.
    EXPECT_EQ(get(port, "/nobody"), "");
}

TEST_F(ServerLoop, SilentConnectionsDoNotStallOthers)
{
    uint16_t port = qntest::freePort();
    auto role = makeRole(port, "/x", "served");
    addRunning(*role);
    start();
    std::vector<std::unique_ptr<RawConn>> silent;
    for (int i = 0; i < 10; ++i) {
        silent.push_back(std::make_unique<RawConn>("127.0.0.1", port));
        ASSERT_TRUE(silent.back()->connected());
    }
    // A client that sends half a request and then nothing.
    RawConn stalled("127.0.0.1", port);
    ASSERT_TRUE(stalled.send("GET /x HTTP/1.1\r\nHo"));
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(answered(get(port, "/x"), "served")) << "request " << i;
}

TEST_F(ServerLoop, RequestSplitAcrossPiecesIsReadWhole)
{
    uint16_t port = qntest::freePort();
    auto role = makeRole(port, "/slow", "ok");
    addRunning(*role);
    start();
    RawConn conn("127.0.0.1", port);
    std::string request = "GET /slow HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: test\r\n\r\n";
    for (size_t at = 0; at < request.size(); at += 7) {
        ASSERT_TRUE(conn.send(request.substr(at, 7)));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(answered(conn.readAll(), "ok"));
}

TEST_F(ServerLoop, UnknownHeadersDoNotDropTheRequest)
{
    uint16_t port = qntest::freePort();
    auto role = makeRole(port, "/d", "desc");
    addRunning(*role);
    start();
    std::string request = "GET /d HTTP/1.1\r\nHOST: 127.0.0.1\r\nOPT: \"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n"
                          "01-NLS: 1\r\nX-User-Agent: redsonic\r\nBOOTID.UPNP.ORG: 7\r\n\r\n";
    EXPECT_TRUE(answered(exchange("127.0.0.1", port, request), "desc"));
}

TEST_F(ServerLoop, PortInUseIsPassedOverAndReportedOnce)
{
    uint16_t busy = qntest::freePort();
    int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(busy);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    ASSERT_EQ(listen(blocker, 1), 0);

    uint16_t port = qntest::freePort();
    auto blocked = makeRole(busy, "/b", "never");
    auto good = makeRole(port, "/g", "good");
    addRunning(*blocked);
    addRunning(*good);
    start();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(answered(get(port, "/g"), "good"));
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
    close(blocker);
    int openErrors = 0;
    {
        std::lock_guard guard(consoleMutex);
        for (const std::string &line : consoleLines)
            openErrors += line == " sockOpen() error\r\n";
    }
    EXPECT_EQ(openErrors, 1);
    // Once the port is free the socket is opened on a later pass.
    std::string late;
    for (int i = 0; i < 30 && late.empty(); ++i) {
        late = get(busy, "/b");
        if (late.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(answered(late, "never"));
}

TEST_F(ServerLoop, RemovedSocketSlotIsReusedAndLaterSlotsStayReachable)
{
    uint16_t p1 = qntest::freePort(), p2 = qntest::freePort(), p3 = qntest::freePort();
    auto r1 = makeRole(p1, "/1", "one");
    auto r2 = makeRole(p2, "/2", "two");
    auto r3 = makeRole(p3, "/3", "three");
    addRunning(*r1);
    addRunning(*r2);
    addRunning(*r3);
    start();
    ASSERT_EQ(unregHandler(&r2->handler), 0);
    EXPECT_TRUE(answered(get(p3, "/3"), "three"));
    EXPECT_EQ(get(p2, "/2"), ""); // closed with its last handler
    auto again = makeRole(p2, "/2", "again");
    addRunning(*again);
    EXPECT_TRUE(answered(get(p2, "/2"), "again"));
    EXPECT_TRUE(answered(get(p1, "/1"), "one"));
}

TEST(RunStates, TransitionsOfHandlersAndServer)
{
    MsgHandler h{};
    h.match = [](MsgHandler *) { return 0; };
    h.handle = [](MsgHandler *) { return 0; };
    SockInfo none{};
    sockInit(&none, "", "", 80, SP_NONE, 0);
    h.sock = &none;
    EXPECT_EQ(setRunState(&h, ES_RUNNING), QN_ERR_ARG); // not registered
    ASSERT_EQ(regHandler(&h), 0);
    struct Step { int command; int expected; } steps[] = {
        {ES_PAUSED, ES_STOPPED}, {ES_RUNNING, ES_RUNNING}, {ES_RUNNING, ES_RUNNING}, {ES_PAUSED, ES_PAUSED},
        {ES_PAUSED, ES_PAUSED}, {ES_BYEBYE, ES_PAUSED}, {ES_RUNNING, ES_RUNNING}, {ES_STOPPED, ES_STOPPED},
        {ES_PAUSED, ES_STOPPED},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(setRunState(&h, s.command), 0);
        EXPECT_EQ(h.state, s.expected) << "command " << s.command;
    }
    ASSERT_EQ(unregHandler(&h), 0);
    EXPECT_EQ(unregHandler(&h), -1);
    serverReset();
}

TEST(Tables, SixteenControlPointsAndDevicesRegisterEverything)
{
    // Five handlers per entity, each socketless record in its own slot.
    std::vector<std::unique_ptr<MsgHandler>> handlers;
    std::vector<std::unique_ptr<SockInfo>> records;
    for (int i = 0; i < QN_MAX_ENTITY * 5; ++i) {
        auto rec = std::make_unique<SockInfo>();
        sockInit(rec.get(), "", "", 80, SP_NONE, 0);
        auto h = std::make_unique<MsgHandler>();
        h->match = [](MsgHandler *) { return 0; };
        h->handle = [](MsgHandler *) { return 0; };
        h->sock = i % 5 < 2 ? rec.get() : nullptr;
        ASSERT_EQ(regHandler(h.get()), 0) << "handler " << i;
        handlers.push_back(std::move(h));
        records.push_back(std::move(rec));
    }
    serverReset();
}

std::atomic<int> firedCount{0};
int countFire(MsgHandler *) { return ++firedCount; }

TEST_F(ServerLoop, TimersFireOnceAndNeverForRemovedHandlers)
{
    MsgHandler kept{}, removed{};
    SockInfo none{};
    sockInit(&none, "", "", 80, SP_NONE, 0);
    for (MsgHandler *h : {&kept, &removed}) {
        h->match = [](MsgHandler *) { return -1; };
        h->handle = [](MsgHandler *) { return 0; };
        h->sock = &none;
        ASSERT_EQ(regHandler(h), 0);
    }
    firedCount = 0;
    ASSERT_GE(timerAdd(1, countFire, &kept), 0);
    ASSERT_GE(timerAdd(1, countFire, &removed), 0);
    ASSERT_EQ(unregHandler(&removed), 0);
    // The slot of the removed handler is taken again by a new registration of
    // the same record: its old timer must not fire for it.
    ASSERT_EQ(regHandler(&removed), 0);
    start();
    std::this_thread::sleep_for(std::chrono::milliseconds(2600));
    stop(); // the handlers live on this test's stack
    serverReset();
    EXPECT_EQ(firedCount, 1);
}

TEST(Datagrams, OwnEchoesAreDroppedOthersFromThisHostDelivered)
{
    char bufListen[kMsgBufSize];
    SockInfo listener{};
    sockInit(&listener, "239.255.255.250", "127.0.0.1", 1900, SP_MCAST_SERVER, 0);
    ASSERT_EQ(sockOpen(&listener), 0);
    listener.data = bufListen;

    char bufSend[256];
    SockInfo sender{};
    sockInit(&sender, "239.255.255.250", "127.0.0.1", 1900, SP_MCAST_CLIENT, 0);
    ASSERT_EQ(sockOpen(&sender), 0);
    sender.data = bufSend;
    copyBounded(bufSend, sizeof bufSend, "NOTIFY * HTTP/1.1\r\n\r\n");
    sender.len = static_cast<uint32_t>(std::strlen(bufSend));
    ASSERT_EQ(sockWrite(&sender), 0);
    ASSERT_EQ(sockPoll(&listener, 1000), 0);
    listener.len = kMsgBufSize - 1;
    EXPECT_EQ(sockRead(&listener), -1) << "the stack's own datagram";

    // Another program on the same host: same address, a port of its own.
    int other = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(1900);
    inet_pton(AF_INET, "239.255.255.250", &to.sin_addr);
    const char note[] = "NOTIFY * HTTP/1.1\r\nNTS: ssdp:alive\r\n\r\n";
    ASSERT_GT(sendto(other, note, sizeof note - 1, 0, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    ASSERT_EQ(sockPoll(&listener, 1000), 0);
    listener.len = kMsgBufSize - 1;
    ASSERT_EQ(sockRead(&listener), 0);
    EXPECT_STREQ(bufListen, note);
    close(other);
    sockClose(&sender);
    sockClose(&listener);
}

// A peer that answers and keeps its connection open: the client read must
// end with the Content-Length, not with the peer's close.
TEST(ClientRead, EndsAtContentLengthAndRemovesChunking)
{
    struct Case {
        const char *name;
        std::string response;
        std::string body;
    } cases[] = {
        {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "\r\nhello"},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
         "\r\nhello world"},
        {"interim 100", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "\r\nok"},
    };
    for (const Case &c : cases) {
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
        socklen_t size = sizeof sa;
        getsockname(listener, reinterpret_cast<sockaddr *>(&sa), &size);
        listen(listener, 1);
        std::promise<void> readDone;
        std::atomic<bool> closedFirst{false};
        std::thread peer([&] {
            int conn = accept(listener, nullptr, nullptr);
            send(conn, c.response.data(), c.response.size(), 0);
            if (readDone.get_future().wait_for(std::chrono::seconds(10)) != std::future_status::ready)
                closedFirst = true;
            close(conn);
        });
        char buf[kMsgBufSize];
        SockInfo client{};
        sockInit(&client, "127.0.0.1", "", ntohs(sa.sin_port), SP_TCP_CLIENT, 20000000);
        ASSERT_EQ(sockOpen(&client), 0) << c.name;
        client.data = buf;
        client.len = kMsgBufSize - 1;
        EXPECT_EQ(sockRead(&client), 0) << c.name;
        readDone.set_value();
        peer.join();
        EXPECT_FALSE(closedFirst) << c.name;
        std::string got(buf, client.len);
        EXPECT_EQ(got.substr(got.rfind("\r\n\r\n") + 2), c.body) << c.name;
        sockClose(&client);
        close(listener);
    }
}

} // namespace
