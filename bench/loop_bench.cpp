// One request through the server loop on loopback, from a raw client's
// connect to the close after the response, compared in the same run with a
// minimal blocking C server on the same machine. Runs inside a private
// network namespace, like the tests.
#include "http.h"
#include "netBenchMain.h"
#include "netns.h"
#include "server.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr const char *kRequest = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
constexpr const char *kBody = "hello";

int matchGet(MsgHandler *h) { return h->msg->method == HM_GET ? 0 : -1; }
int answer(MsgHandler *h) { return httpSendResponse(h, 200, nullptr, 0, kBody, 5); }

// connect, send, read until the server closes.
bool roundTrip(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        close(fd);
        return false;
    }
    send(fd, kRequest, std::strlen(kRequest), 0);
    char buf[1024];
    size_t total = 0;
    for (;;) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
    close(fd);
    return total > 0;
}

template <class Fn> void measure(benchmark::State &state, Fn &&once)
{
    std::vector<double> us;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (!once())
            state.SkipWithError("request failed");
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    qntest::reportLatencies(state, us);
}

void BM_ServerLoopRequest(benchmark::State &state)
{
    static SockInfo wanted{};
    static MsgHandler handler{};
    constexpr uint16_t port = 31001;
    sockInit(&wanted, "127.0.0.1", "", port, SP_TCP_SERVER, 0);
    handler = MsgHandler{};
    handler.sock = &wanted;
    handler.match = matchGet;
    handler.handle = answer;
    regHandler(&handler);
    setRunState(&handler, 1);
    setRunState(nullptr, 1);
    std::thread loop([] { serverLoop(); });
    measure(state, [] { return roundTrip(port); });
    setRunState(nullptr, 0);
    loop.join();
    serverReset();
}

// The reference: accept, read the request, write the answer, close.
void BM_RawCServerRequest(benchmark::State &state)
{
    constexpr uint16_t port = 31002;
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    bind(listener, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    listen(listener, 64);
    std::atomic<bool> stop{false};
    std::thread server([&] {
        const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello";
        while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int conn = accept(listener, nullptr, nullptr);
            char buf[1024];
            recv(conn, buf, sizeof buf, 0);
            send(conn, reply, sizeof reply - 1, 0);
            close(conn);
        }
    });
    measure(state, [] { return roundTrip(port); });
    stop = true;
    server.join();
    close(listener);
}

BENCHMARK(BM_ServerLoopRequest)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawCServerRequest)->Iterations(2000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return qntest::runBenchmarksInPrivateNetwork(argc, argv);
}
