// What hostile peers cost everyone else, on loopback in a private network
// namespace. Each benchmark measures the round trip of a SOAP action
// (GetStatus, the stack's control point to the stack's BinaryLight) on
// another socket while an attack runs, and reports p50/p99 in microseconds;
// the quiet run is the reference of the same process:
//  - quiet: nothing else happens;
//  - slow peers: 50 connections that stay silent, 50 that trickle a request
//    one byte every 250 ms, 20 that ask for an 8 MiB file and never read;
//  - burst: a thread opens connections at 1000 per second, each asking for
//    the description; the descriptor count after the burst, against the
//    one before, is reported as fds_after and fds_before;
//  - slow download: a control point downloads a description from a server
//    that trickles it (a new one every 5 s); qnGetDevList is timed from
//    another thread instead of the action.
#include "desc.h"
#include "entity.h"
#include "handTracked.h"
#include "netBenchMain.h"
#include "rawnet.h"
#include "sdkThread.h"
#include "server.h"
#include "text.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qntest;
using Clock = std::chrono::steady_clock;

constexpr int32_t kBigFile = 8 * 1024 * 1024;

std::string lightDir() { return std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight"; }

QN_RET lightHandler(QN_ENTITY, int32_t type, QN_COOKIE, void *arg)
{
    if (type == MT_DEV_ACTION) {
        auto *a = static_cast<QNApiAction *>(arg);
        qnSetNVNameVal(&a->argNV[0], "ResultStatus", "1");
        a->argNum = 1;
    } else if (type == MT_DEV_GET_VAR) {
        qnSetNVVal(static_cast<QNNameVal *>(arg)->val, "1");
    } else if (type == MT_READ_FILE) {
        auto *file = static_cast<QNApiFileInfo *>(arg);
        file->fileSize = kBigFile;
        std::memset(file->buf, 'b', static_cast<size_t>(file->bufLen));
    }
    return QN_OK;
}

QN_RET declineAll(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_ERR; }

struct Stack {
    QN_DEVICE device = QN_INVALID_DEVICE;
    QN_CONTROL_POINT cp = QN_INVALID_CONTROL_POINT;
    uint16_t port = 0;

    Stack()
    {
        qnSetConsoleSink([](const char *) {});
        QNApiSdkConfig config{1, 0, 1 << 20, startThread, 0, 0};
        qnSdkInit(&config);
        qnSdkRun();
        QNApiDevSettings d{};
        copyBounded(d.ipAddr, sizeof d.ipAddr, "127.0.0.1");
        port = freePort();
        d.httpPort = d.soapPort = port;
        copyBounded(d.localPath, sizeof d.localPath, lightDir());
        copyBounded(d.webPath, sizeof d.webPath, "/");
        copyBounded(d.descFile, sizeof d.descFile, "BinaryLight.xml");
        d.msgHandler = lightHandler;
        device = qnAddDevice(&d);
        qnChangeEntityState(device, ES_RUNNING);
        QNApiCtrlPointSettings c{};
        c.cpType = 2;
        copyBounded(c.descFile, sizeof c.descFile, "http://127.0.0.1/none.xml");
        copyBounded(c.ipAddr, sizeof c.ipAddr, "127.0.0.1");
        c.eventPort = freePort();
        copyBounded(c.eventPath, sizeof c.eventPath, "/eventCB");
        c.msgHandler = [](QN_ENTITY, int32_t, QN_COOKIE, void *) -> QN_RET { return QN_OK; };
        cp = qnAddCtrlPoint(&c, QN_INVALID_CONTROL_POINT);
        trackByHand(cp, lightDir() + "/BinaryLight.xml", "127.0.0.1", port);
    }
    ~Stack() { qnSdkClean(); }
};

// Runs fn on a thread until stopped.
class Attacker {
public:
    template <class Fn> explicit Attacker(Fn fn) : thread_([this, fn] { fn(stop_); }) {}
    ~Attacker()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_SoapQuiet(benchmark::State &state)
{
    Stack stack;
    measureActions(state, stack.cp);
}

void BM_SoapDuringSlowPeers(benchmark::State &state)
{
    Stack stack;
    uint16_t port = stack.port;
    Attacker slow([port](std::atomic<bool> &stop) {
        std::vector<int> silent, trickling, stalled;
        const std::string ask = "GET /big.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        const std::string endless = "GET / HTTP/1.1\r\nUser-Agent: " + std::string(100000, 't');
        size_t at = 0;
        while (!stop) {
            // Peers whose deadline closed them are replaced.
            auto refill = [&](std::vector<int> &v, size_t n, int rcvbuf, const std::string *first) {
                std::erase_if(v, [](int fd) {
                    char c;
                    ssize_t r = recv(fd, &c, 1, MSG_DONTWAIT | MSG_PEEK);
                    bool gone = r == 0 || (r < 0 && errno != EAGAIN);
                    if (gone)
                        close(fd);
                    return gone;
                });
                while (v.size() < n) {
                    int fd = connectLoopback(port, true, rcvbuf);
                    if (first != nullptr)
                        (void)send(fd, first->data(), first->size(), MSG_NOSIGNAL);
                    v.push_back(fd);
                }
            };
            refill(silent, 50, 0, nullptr);
            refill(trickling, 50, 0, nullptr);
            refill(stalled, 20, 4096, &ask);
            for (int fd : trickling)
                (void)send(fd, endless.data() + at % endless.size(), 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            ++at;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        for (auto *v : {&silent, &trickling, &stalled})
            for (int fd : *v)
                close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    measureActions(state, stack.cp);
}

void BM_SoapDuringBurst(benchmark::State &state)
{
    Stack stack;
    uint16_t port = stack.port;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int before = openDescriptors();
    {
        Attacker burst([port](std::atomic<bool> &stop) {
            const std::string ask = "GET /BinaryLight.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
            std::vector<int> open;
            while (!stop) {
                // 1000 per second, in batches of ten.
                for (int i = 0; i < 10; ++i) {
                    int fd = connectLoopback(port, true);
                    (void)send(fd, ask.data(), ask.size(), MSG_NOSIGNAL);
                    open.push_back(fd);
                }
                std::erase_if(open, [](int fd) {
                    char buf[4096];
                    ssize_t r = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                    bool done = r == 0 || (r < 0 && errno != EAGAIN);
                    if (done)
                        close(fd);
                    return done;
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            for (int fd : open)
                close(fd);
        });
        measureActions(state, stack.cp);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    state.counters["fds_before"] = before;
    state.counters["fds_after"] = openDescriptors();
}

// A description server that trickles: a byte every 50 ms, for ever.
class TricklingServer {
public:
    TricklingServer() : fd_(listenTcp("127.0.0.1", 0, 16))
    {
        sockaddr_in sa{};
        socklen_t size = sizeof sa;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &size);
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] {
            std::vector<int> conns;
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 50) > 0)
                    conns.push_back(accept(fd_, nullptr, nullptr));
                for (int c : conns)
                    (void)send(c, "H", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            }
            for (int c : conns)
                close(c);
        });
    }
    ~TricklingServer()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    uint16_t port() const { return port_; }

private:
    int fd_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_DevListDuringSlowDownload(benchmark::State &state)
{
    Stack stack;
    TricklingServer server;
    QNApiCtrlPointSettings s{};
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.notifyApp = 1;
    s.msgHandler = declineAll;
    QN_CONTROL_POINT plain = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    qnChangeEntityState(plain, ES_RUNNING);
    uint16_t port = server.port();
    // Announcements of ever new devices at the trickling server.
    Attacker announcer([port](std::atomic<bool> &stop) {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in group{};
        group.sin_family = AF_INET;
        group.sin_port = htons(1900);
        inet_pton(AF_INET, "239.255.255.250", &group.sin_addr);
        for (int n = 0; !stop; ++n) {
            std::string alive = "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
                                "LOCATION: http://127.0.0.1:" +
                                std::to_string(port) +
                                "/d.xml\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nSERVER: x/1 UPnP/1.0 x/1\r\n"
                                "USN: uuid:slow-" +
                                std::to_string(n) + "::upnp:rootdevice\r\n\r\n";
            (void)sendto(fd, alive.data(), alive.size(), 0, reinterpret_cast<sockaddr *>(&group), sizeof group);
            for (int i = 0; i < 50 && !stop; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::vector<double> us;
    for (auto _ : state) {
        const char *list[4];
        int32_t count = 4;
        auto start = Clock::now();
        (void)qnGetDevList(stack.cp, "", list, &count);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    reportLatencies(state, us);
}

BENCHMARK(BM_SoapQuiet)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SoapDuringSlowPeers)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SoapDuringBurst)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_DevListDuringSlowDownload)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return qntest::runBenchmarksInPrivateNetwork(argc, argv);
}
