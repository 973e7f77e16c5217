// Attacks and faults against the server loop, inside the test's private
// network: silent, slow and trickling peers, requests out of bounds,
// connection bursts, a process short of descriptors, and devices that never
// answer a control point. After every case the stack must still be whole:
// the device answers a fresh description GET and a SOAP action within 3 s,
// the subscription still delivers, the tracked device is still tracked.
#include "download.h"
#include "gena.h"
#include "lightStack.h"
#include "sdkThread.h"
#include "waitFor.h"

#include <sys/resource.h>
#include <sys/wait.h>


#include <regex>
#include <sstream>

namespace {

using namespace qntest;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char *kUdn = "uuid:6a1e5c7e-3b0f-4c8e-9d41-0c1b2a3d4e5f"; // the example light's
constexpr int32_t kBigFile = 8 * 1024 * 1024;

long msSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The light, and a large file for whoever asks for /big.bin.
QN_RET attackedLight(QN_ENTITY device, int32_t type, QN_COOKIE cookie, void *arg)
{
    if (type != MT_READ_FILE)
        return lightHandler(device, type, cookie, arg);
    auto *file = static_cast<QNApiFileInfo *>(arg);
    if (std::strcmp(file->fileName, "/big.bin") != 0)
        return QN_ERR;
    file->fileSize = kBigFile;
    std::memset(file->buf, 'b', static_cast<size_t>(file->bufLen));
    return QN_OK;
}

// Reads until the peer closes or resets; false when it is still open after waitMs.
bool closedWithin(int fd, int waitMs, std::string *got = nullptr)
{
    auto end = Clock::now() + std::chrono::milliseconds(waitMs);
    char buf[4096];
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0)
            return false;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return true;
        if (got != nullptr)
            got->append(buf, static_cast<size_t>(n));
    }
}

// ---- A process short of descriptors ------------------------------------------------------------

// The device runs in a child limited to 32 descriptors; the parent holds
// far more connections than that open. The child's loop must neither spin
// nor end, and serve again once they are gone.
TEST(AttackLoopLimits, OutOfDescriptorsTheLoopRestsAndRecovers)
{
    uint16_t port = freePort();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit few{32, 32};
        setrlimit(RLIMIT_NOFILE, &few);
        setConsoleSink([](const char *) {});
        QNApiSdkConfig config{1, 0, 1 << 20, startThread, 0, 0};
        qnSdkInit(&config);
        QNApiDevSettings s{};
        copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
        s.httpPort = s.soapPort = port;
        copyBounded(s.localPath, sizeof s.localPath, lightDir());
        copyBounded(s.webPath, sizeof s.webPath, "/");
        copyBounded(s.descFile, sizeof s.descFile, "BinaryLight.xml");
        s.msgHandler = lightHandler;
        QN_DEVICE dev = qnAddDevice(&s);
        qnChangeEntityState(dev, ES_RUNNING);
        qnSdkRun();
        (void)!write(ready[1], "r", 1);
        for (;;)
            pause(); // until the parent kills us

    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    const std::string ask = "GET /BinaryLight.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_TRUE(waitFor([&] { return exchange("127.0.0.1", port, ask, 1000).rfind("HTTP/1.1 200", 0) == 0; }));
    auto cpuTicks = [child] {
        std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i == 14 || i == 15)
                ticks += std::stol(field);
        return ticks;
    };
    std::vector<std::unique_ptr<RawConn>> flood;
    for (int i = 0; i < 100; ++i)
        flood.push_back(std::make_unique<RawConn>("127.0.0.1", port));
    long before = cpuTicks();
    std::this_thread::sleep_for(1s);
    long spent = cpuTicks() - before;
    EXPECT_LT(spent, sysconf(_SC_CLK_TCK) / 2) << "the loop spins on a listener it cannot accept from";
    EXPECT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "the loop ended";
    flood.clear();
    auto start = Clock::now();
    EXPECT_TRUE(waitFor([&] { return exchange("127.0.0.1", port, ask, 1000).rfind("HTTP/1.1 200", 0) == 0; }, 3000ms));
    EXPECT_LT(msSince(start), 3000);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
}

class AttackLoop : public LightStack {
protected:
    void SetUp() override
    {
        LightStack::SetUp();
        port_ = freePort();
        QNApiDevSettings s = lightSettings("127.0.0.1", port_, port_, attackedLight);
        dev_ = qnAddDevice(&s);
        ASSERT_NE(dev_, QN_INVALID_DEVICE);
        ASSERT_EQ(qnChangeEntityState(dev_, ES_RUNNING), QN_OK);
        cp_ = addTracker("127.0.0.1", port_);
        char sid[64] = "";
        ASSERT_EQ(qnCPSubscribe(cp_, kSwitchPower, "/eventCB", 300, sid, sizeof sid), QN_OK);
        ASSERT_EQ(eventLog.waitFor(1).size(), 1u);
        // What the stack holds once it serves: the baseline to come back to.
        std::this_thread::sleep_for(400ms);
        baseFds_ = openDescriptors();
    }

    std::string get(const std::string &path, int waitMs = 3000)
    {
        return exchange("127.0.0.1", port_, "GET " + path + " HTTP/1.1\r\nHost: " + host() + "\r\n\r\n", waitMs);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    // The stack after a case: description, action, event and tracking, each
    // answered within 3 s.
    void expectWhole(const std::string &name)
    {
        auto start = Clock::now();
        std::string desc = get("/BinaryLight.xml");
        EXPECT_EQ(desc.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << name << ": " << desc.substr(0, 60);
        QNApiAction a{};
        copyBounded(a.action, sizeof a.action, "GetStatus");
        EXPECT_EQ(qnCPSoapAction(cp_, kSwitchPower, &a), QN_OK) << name;
        EXPECT_LT(msSince(start), 3000) << name;
        size_t seen = eventLog.waitFor(0, 0).size();
        QNNameVal status{};
        qnSetNVNameVal(&status, "Status", "1");
        EXPECT_EQ(qnDevNotify(dev_, kSwitchPower, &status, 1), 1) << name;
        EXPECT_GT(eventLog.waitFor(seen + 1, 3000).size(), seen) << name << ": the subscription is gone";
        char udn[QN_VAL_MAX_LEN] = "";
        EXPECT_EQ(qnGetUdn(cp_, udn, sizeof udn), QN_OK) << name;
        EXPECT_STREQ(udn, kUdn) << name;
    }

    // Waits until the descriptors are back to the baseline (plus extra).
    bool fdsBack(int extra = 0, std::chrono::milliseconds limit = 6000ms)
    {
        return waitFor([&] { return openDescriptors() <= baseFds_ + extra; }, limit);
    }

    uint16_t port_ = 0;
    QN_DEVICE dev_ = QN_INVALID_DEVICE;
    QN_CONTROL_POINT cp_ = QN_INVALID_CONTROL_POINT;
    int baseFds_ = 0;
};

// ---- Requests out of bounds and unfinished requests -------------------------------------

struct RawCase {
    const char *name;
    std::string bytes;
    bool peerEnds;        // the peer shuts its side after sending
    const char *answer;   // the answer's start; "" closed without one
    int withinMs;         // closed by then
};

TEST_F(AttackLoop, RequestsOutOfBoundsAreRefusedAndClosed)
{
    const std::string h = "Host: 127.0.0.1\r\n";
    const std::string post = "POST /SwitchPower/control HTTP/1.1\r\n" + h;
    const std::string longText(600, 'a');
    const RawCase cases[] = {
        {"silent connection", "", false, "", 2500},
        {"head without its blank line", "GET /BinaryLight.xml HTTP/1.1\r\nHo", true, "HTTP/1.1 400 ", 1000},
        {"body short of Content-Length, peer ends", post + "Content-Length: 100\r\n\r\n<s/>", true, "HTTP/1.1 400 ",
         1000},
        {"body short of Content-Length, peer waits", post + "Content-Length: 100\r\n\r\n<s/>", false,
         "HTTP/1.1 408 ", 5000},
        {"negative Content-Length", post + "Content-Length: -5\r\n\r\n", false, "HTTP/1.1 400 ", 1000},
        {"hexadecimal Content-Length", post + "Content-Length: 0x10\r\n\r\n", false, "HTTP/1.1 400 ", 1000},
        {"huge Content-Length", post + "Content-Length: 99999999999999999999\r\n\r\n", false, "HTTP/1.1 400 ", 1000},
        {"body beyond the buffer", post + "Content-Length: 10000000\r\n\r\n", false, "HTTP/1.1 413 ", 1000},
        {"two different lengths", post + "Content-Length: 4\r\nContent-Length: 5\r\n\r\nabcde", false,
         "HTTP/1.1 400 ", 1000},
        {"Transfer-Encoding with Content-Length",
         post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", false, "HTTP/1.1 400 ", 1000},
        {"NUL in the head", std::string("GET /BinaryLight.xml HTTP/1.1\r\nHost: a\0b\r\n\r\n", 44), false,
         "HTTP/1.1 400 ", 1000},
        {"escape in the head", "GET /BinaryLight.xml HTTP/1.1\r\nUser-Agent: \x1b[2J\r\n\r\n", false, "HTTP/1.1 400 ",
         1000},
        {"target longer than its field", "GET /" + longText + " HTTP/1.1\r\n" + h + "\r\n", false, "HTTP/1.1 400 ",
         1000},
        {"Host longer than its field", "GET /BinaryLight.xml HTTP/1.1\r\nHost: " + longText + "\r\n\r\n", false,
         "HTTP/1.1 400 ", 1000},
        {"Callback longer than its field",
         "SUBSCRIBE /SwitchPower/event HTTP/1.1\r\n" + h + "Nt: upnp:event\r\nCallback: <http://127.0.0.1:9/" +
             longText + ">\r\n\r\n",
         false, "HTTP/1.1 400 ", 1000},
        {"OPTIONS", "OPTIONS * HTTP/1.1\r\n" + h + "\r\n", false, "HTTP/1.1 501 ", 1000},
        {"PUT", "PUT /BinaryLight.xml HTTP/1.1\r\n" + h + "Content-Length: 1\r\n\r\nx", false, "HTTP/1.1 501 ", 1000},
        {"DELETE", "DELETE /BinaryLight.xml HTTP/1.1\r\n" + h + "\r\n", false, "HTTP/1.1 501 ", 1000},
        {"TRACE", "TRACE / HTTP/1.1\r\n" + h + "\r\n", false, "HTTP/1.1 501 ", 1000},
        {"NOTIFY at a device", "NOTIFY /SwitchPower/event HTTP/1.1\r\n" + h + "\r\n", false,
         "HTTP/1.1 405 Method Not Allowed\r\nServer: Corvanta UPnP Server, UPnP/1.0\r\nAllow: GET, POST, M-POST, "
         "SUBSCRIBE, UNSUBSCRIBE, HEAD\r\n",
         1000},
        {"M-SEARCH over TCP", "M-SEARCH * HTTP/1.1\r\n" + h + "\r\n", false, "HTTP/1.1 405 ", 1000},
        {"a response for a request", "HTTP/1.1 200 OK\r\n\r\n", false, "HTTP/1.1 400 ", 1000},
    };
    auto subscriptions = [] {
        std::lock_guard guard(stackLock());
        size_t n = 0;
        for (int i = 0; i < kMaxSubscriptions; ++i)
            n += subscriptionTable()[i].id != 0;
        return n;
    };
    size_t before = subscriptions();
    size_t calls = lightApp.callList().size();
    for (const RawCase &c : cases) {
        RawConn conn("127.0.0.1", port_);
        ASSERT_TRUE(conn.connected()) << c.name;
        auto start = Clock::now();
        if (!c.bytes.empty()) {
            ASSERT_TRUE(conn.send(c.bytes)) << c.name;
        }
        if (c.peerEnds)
            shutdown(conn.fd(), SHUT_WR);
        std::string got;
        EXPECT_TRUE(closedWithin(conn.fd(), c.withinMs + 500, &got)) << c.name;
        EXPECT_LE(msSince(start), c.withinMs + 500) << c.name;
        EXPECT_EQ(got.substr(0, std::strlen(c.answer)), c.answer) << c.name << ": " << got;
    }
    EXPECT_EQ(subscriptions(), before) << "a cut Callback must not subscribe";
    EXPECT_EQ(lightApp.callList().size(), calls) << "no request reached the application";
    EXPECT_TRUE(fdsBack());
    expectWhole("after the requests out of bounds");
}

// A refused request is logged as a short, escaped start of it: the bytes
// a peer sent never reach the console as they are.
TEST_F(AttackLoop, RefusedRequestsAreLoggedShortAndEscaped)
{
    clearConsole();
    const std::string hostile = "GET /\x1b[2J" + std::string(5000, 'z') + " HTTP/1.1\r\nHost: a\x01\r\n\r\n";
    for (int i = 0; i < 20; ++i)
        (void)exchange("127.0.0.1", port_, hostile, 1000);
    ASSERT_TRUE(waitForConsole(" refused, bad request: "));
    std::string text = console();
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find(std::string(100, 'z')), std::string::npos) << "the whole request was logged";
    EXPECT_NE(text.find("GET /\\x1b[2Jzzz"), std::string::npos) << text.substr(0, 300);
    expectWhole("after the logged refusals");
}

TEST_F(AttackLoop, HeadAndASecondRequestInTheSameSegment)
{
    std::string whole = get("/BinaryLight.xml");
    size_t headEnd = whole.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    std::string head = exchange("127.0.0.1", port_, "HEAD /BinaryLight.xml HTTP/1.1\r\nHost: " + host() + "\r\n\r\n");
    EXPECT_EQ(head, whole.substr(0, headEnd + 4)) << "HEAD: the headers of GET, no body";
    // HEAD of an application's file: its head at once, the file not read.
    auto start = Clock::now();
    std::string bigHead = exchange("127.0.0.1", port_, "HEAD /big.bin HTTP/1.1\r\nHost: " + host() + "\r\n\r\n");
    EXPECT_LT(msSince(start), 500);
    EXPECT_NE(bigHead.find("\r\nContent-Length: " + std::to_string(kBigFile) + "\r\n"), std::string::npos) << bigHead;
    EXPECT_EQ(bigHead.substr(bigHead.size() - 4), "\r\n\r\n");
    // The second request is not the first one's body, nor answered.
    std::string twice = exchange("127.0.0.1", port_,
                                 "GET /BinaryLight.xml HTTP/1.1\r\nHost: " + host() +
                                     "\r\n\r\nGET /SwitchPower.xml HTTP/1.1\r\nHost: " + host() + "\r\n\r\n");
    EXPECT_EQ(twice, whole);
    expectWhole("after HEAD and two requests");
}

// ---- Slow and silent peers -----------------------------------------------------------------

TEST_F(AttackLoop, TrickledRequestIsClosedByItsDeadline)
{
    RawConn conn("127.0.0.1", port_);
    ASSERT_TRUE(conn.connected());
    const std::string endless = "GET /BinaryLight.xml HTTP/1.1\r\nUser-Agent: " + std::string(200, 't');
    auto start = Clock::now();
    bool closed = false;
    std::string got;
    for (size_t i = 0; i < endless.size() && !closed; ++i) {
        if (!conn.send(endless.substr(i, 1)))
            break;
        closed = closedWithin(conn.fd(), 250, &got);
        // Meanwhile every other peer is served.
        if (i % 4 == 0) {
            EXPECT_EQ(get("/BinaryLight.xml").rfind("HTTP/1.1 200 OK", 0), 0u);
        }
    }
    EXPECT_TRUE(closed || closedWithin(conn.fd(), 1000, &got));
    EXPECT_LE(msSince(start), 5500);
    EXPECT_EQ(got.rfind("HTTP/1.1 408 ", 0), 0u) << got;
    expectWhole("after the trickle");
}

TEST_F(AttackLoop, PeersThatNeverReadOrResetCostNothing)
{
    // Ten peers ask for a large file and never read it.
    std::vector<int> stalled;
    const std::string ask = "GET /big.bin HTTP/1.1\r\nHost: " + host() + "\r\n\r\n";
    for (int i = 0; i < 10; ++i) {
        int fd = connectLoopback(port_, true, 4096); // a small buffer, never read
        ASSERT_GE(fd, 0);
        ASSERT_EQ(send(fd, ask.data(), ask.size(), MSG_NOSIGNAL), static_cast<ssize_t>(ask.size()));
        stalled.push_back(fd);
    }
    // One reads a little and resets.
    {
        RawConn reset("127.0.0.1", port_);
        ASSERT_TRUE(reset.send(ask));
        char buf[1024];
        ASSERT_GT(recv(reset.fd(), buf, sizeof buf, 0), 0);
        linger hard{1, 0};
        setsockopt(reset.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    expectWhole("while ten peers do not read");
    // Abandoned at the whole-answer deadline: only our own ends stay open.
    EXPECT_TRUE(fdsBack(static_cast<int>(stalled.size()), std::chrono::milliseconds(kAnswerWaitMs + 2000)));
    for (int fd : stalled) {
        EXPECT_TRUE(closedWithin(fd, 3000)) << "abandoned, not served to the end";
        close(fd);
    }
    // A reader that takes the whole file gets all of it.
    std::string got;
    RawConn whole("127.0.0.1", port_);
    ASSERT_TRUE(whole.send(ask));
    EXPECT_TRUE(closedWithin(whole.fd(), 10000, &got));
    size_t headEnd = got.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    EXPECT_EQ(got.size() - headEnd - 4, static_cast<size_t>(kBigFile));
    expectWhole("after the stalled readers");
}

// ---- Subscribers that fail --------------------------------------------------------------------

// Events for a subscriber that cannot be reached only queue: qnDevNotify
// returns at once, and after three failed deliveries in a row the
// subscription is dropped. The other subscription is not touched.
TEST_F(AttackLoop, DeadSubscriberCostsNoWaitAndIsDropped)
{
    // A subscriber whose listener never accepts (its backlog is full) and
    // one whose port refuses.
    FakePeer hole(kFirstAddr, 0, 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int fd = connectLoopback(hole.port(), false);
        fillers.push_back(fd);
    }
    std::this_thread::sleep_for(100ms);
    auto subscribe = [&](uint16_t to) {
        std::string answer = exchange("127.0.0.1", port_,
                                      "SUBSCRIBE /SwitchPower/event HTTP/1.1\r\nHost: " + host() +
                                          "\r\nCallback: <http://127.0.0.1:" + std::to_string(to) +
                                          "/ev>\r\nNt: upnp:event\r\n\r\n");
        std::smatch m;
        return std::regex_search(answer, m, std::regex("\r\nSid: (uuid:[^\r]*)\r\n")) ? m[1].str() : "";
    };
    const std::string silent = subscribe(hole.port());
    const std::string refused = subscribe(freePort());
    ASSERT_FALSE(silent.empty());
    ASSERT_FALSE(refused.empty());
    auto live = [](const std::string &sid) {
        std::lock_guard guard(stackLock());
        for (int i = 0; i < kMaxSubscriptions; ++i)
            if (subscriptionTable()[i].id != 0 && sid == subscriptionTable()[i].sid)
                return true;
        return false;
    };
    QNNameVal status{};
    qnSetNVNameVal(&status, "Status", "1");
    for (int i = 0; i < 3; ++i) {
        auto start = Clock::now();
        EXPECT_GE(qnDevNotify(dev_, kSwitchPower, &status, 1), 1);
        EXPECT_LT(msSince(start), 50) << "qnDevNotify waited for a subscriber";
    }
    EXPECT_TRUE(waitFor([&] { return !live(refused); }, 3000ms)) << "three failures in a row";
    EXPECT_TRUE(waitFor([&] { return !live(silent); }, std::chrono::milliseconds(4 * kNotifyConnectWaitMs + 2000)));
    for (int fd : fillers)
        close(fd);
    expectWhole("after the dead subscribers");
}

// ---- Bursts ----------------------------------------------------------------------------------

TEST_F(AttackLoop, ThousandConnectionsInOneSecondAreEachServedOrRefused)
{
    constexpr int kConnections = 1000;
    const std::string ask = "GET /BinaryLight.xml HTTP/1.1\r\nHost: " + host() + "\r\n\r\n";
    std::vector<int> fds;
    auto start = Clock::now();
    for (int i = 0; i < kConnections; ++i) {
        int fd = connectLoopback(port_, false);
        ASSERT_GE(fd, 0) << "the test itself is out of descriptors";
        fds.push_back(fd);
    }
    EXPECT_LT(msSince(start), 1000);
    // Each sends its request once connected, and must end: served, refused
    // or closed; none may hang.
    std::vector<bool> sent(fds.size(), false), ended(fds.size(), false);
    int served = 0, refused = 0, open = kConnections;
    auto until = Clock::now() + 15s;
    while (open > 0 && Clock::now() < until) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if (ended[i])
                continue;
            if (!sent[i] && send(fds[i], ask.data(), ask.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(ask.size()))
                sent[i] = true;
            char buf[4096];
            ssize_t n = recv(fds[i], buf, sizeof buf, 0);
            if (n > 0) {
                served += std::string_view(buf, 12) == "HTTP/1.1 200";
                refused += std::string_view(buf, 12) == "HTTP/1.1 503";
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != ENOTCONN)) {
                ended[i] = true;
                --open;
                close(fds[i]);
            }
        }
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(open, 0) << "connections left hanging";
    EXPECT_GT(served, kConnections / 2) << "refused " << refused;
    for (size_t i = 0; i < fds.size(); ++i)
        if (!ended[i])
            close(fds[i]);
    EXPECT_TRUE(fdsBack());
    expectWhole("after the burst");
}

// ---- A control point against hostile devices ------------------------------------------------

enum class Hostile { Silent, Endless, Trickle, Reset, Huge };

// A device's HTTP server that misbehaves in one way on every connection.
class HostilePeer {
public:
    explicit HostilePeer(Hostile how) : how_(how), fd_(listenTcp("127.0.0.1", 0, 64))
    {
        sockaddr_in sa{};
        socklen_t size = sizeof sa;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &size);
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { loop(); });
    }
    ~HostilePeer()
    {
        running_ = false;
        thread_.join();
        for (int c : conns_)
            close(c);
        close(fd_);
    }
    uint16_t port() const { return port_; }

private:
    void serve(int conn)
    {
        char buf[4096];
        (void)recv(conn, buf, sizeof buf, MSG_DONTWAIT);
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n";
        switch (how_) {
        case Hostile::Silent:
            break;
        case Hostile::Endless: {
            (void)send(conn, head.data(), head.size(), MSG_NOSIGNAL);
            std::string chunk(16384, 'x');
            while (running_ && send(conn, chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0) {
            }
            break;
        }
        case Hostile::Trickle:
            for (size_t i = 0; running_ && i < head.size() + 100; ++i) {
                char c = i < head.size() ? head[i] : '<';
                if (send(conn, &c, 1, MSG_NOSIGNAL) <= 0)
                    break;
                std::this_thread::sleep_for(100ms);
            }
            break;
        case Hostile::Reset: {
            linger hard{1, 0};
            setsockopt(conn, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            close(conn);
            return;
        }
        case Hostile::Huge: {
            std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2097152\r\n\r\n" + std::string(2097152, 'h');
            (void)send(conn, answer.data(), answer.size(), MSG_NOSIGNAL);
            break;
        }
        }
        conns_.push_back(conn); // kept open until the end: silence, not a close
    }
    void loop()
    {
        while (running_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int conn = accept(fd_, nullptr, nullptr);
            if (conn >= 0)
                serve(conn);
        }
    }

    Hostile how_;
    int fd_;
    uint16_t port_ = 0;
    std::atomic<bool> running_{true};
    std::vector<int> conns_;
    std::thread thread_;
};

struct HostileCase {
    const char *name;
    Hostile how;
};
const HostileCase kHostile[] = {
    {"accepts and never answers", Hostile::Silent}, {"streams endless bytes", Hostile::Endless},
    {"trickles its answer", Hostile::Trickle},      {"resets", Hostile::Reset},
    {"answers 2 MiB", Hostile::Huge},
};

TEST_F(AttackLoop, SoapActionAgainstHostileDevicesEndsWithinItsTimeout)
{
    for (const HostileCase &c : kHostile) {
        HostilePeer peer(c.how);
        QN_CONTROL_POINT hostile = addTracker("127.0.0.1", peer.port());
        QNApiAction a{};
        copyBounded(a.action, sizeof a.action, "GetStatus");
        auto start = Clock::now();
        EXPECT_NE(qnCPSoapAction(hostile, kSwitchPower, &a), QN_OK) << c.name;
        EXPECT_LE(msSince(start), kSoapRelativeWaitUs / 1000 + 1000) << c.name;
        qnRemoveCtrlPoint(hostile);
        expectWhole(c.name);
    }
}

// Announcements that point a control point's download at hostile servers:
// each download ends by its deadline, and meanwhile the model answers at
// once and the device keeps serving.
TEST_F(AttackLoop, DownloadsFromHostileServersEndByTheirDeadline)
{
    QNApiCtrlPointSettings s{};
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.notifyApp = 1;
    s.msgHandler = [](QN_ENTITY, int32_t, QN_COOKIE, void *) -> QN_RET { return QN_ERR; };
    QN_CONTROL_POINT plain = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    ASSERT_NE(plain, QN_INVALID_CONTROL_POINT);
    ASSERT_EQ(qnChangeEntityState(plain, ES_RUNNING), QN_OK);
    int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in group{};
    group.sin_family = AF_INET;
    group.sin_port = htons(1900);
    inet_pton(AF_INET, "239.255.255.250", &group.sin_addr);
    uint16_t ownEvents = 0;
    {
        std::lock_guard guard(stackLock());
        ownEvents = entityAt(cp_)->cp.eventPort;
    }
    int n = 0;
    for (const HostileCase &c : kHostile) {
        HostilePeer peer(c.how);
        for (uint16_t port : {peer.port(), ownEvents}) {
            std::string alive = "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
                                "LOCATION: http://127.0.0.1:" +
                                std::to_string(port) +
                                "/desc.xml\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nSERVER: x/1 UPnP/1.0 x/1\r\n"
                                "USN: uuid:hostile-" +
                                std::to_string(++n) + "::upnp:rootdevice\r\n\r\n";
            ASSERT_GT(sendto(sender, alive.data(), alive.size(), 0, reinterpret_cast<sockaddr *>(&group), sizeof group),
                      0);
            auto start = Clock::now();
            long slowest = 0;
            bool busy = true;
            while (busy && msSince(start) < kDownloadWaitMs + 1500) {
                auto before = Clock::now();
                const char *list[4];
                int32_t count = 4;
                (void)qnGetDevList(cp_, "", list, &count);
                slowest = std::max(slowest, msSince(before));
                std::this_thread::sleep_for(20ms);
                std::lock_guard guard(stackLock());
                busy = downloadBusy(plain) || msSince(start) < 200;
            }
            EXPECT_FALSE(busy) << c.name << " port " << port;
            EXPECT_LT(slowest, 100) << c.name << ": the model was held during the download";
            expectWhole(c.name);
        }
    }
    close(sender);
}

} // namespace

