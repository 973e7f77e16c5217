// A short demonstration of the stack's foundation: the server loop serves a
// page on loopback, and a client record of the socket layer fetches it.
// Run it inside tools/netns-run.
#include "http.h"
#include "server.h"
#include "sock.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr uint16_t kDemoPort = 30909;
constexpr const char *kPage = "<html><body>Hello from the qnsdk server loop</body></html>\n";

int matchAny(MsgHandler *h) { return h->msg->method == HM_GET ? 0 : -1; }

int servePage(MsgHandler *h)
{
    HttpHeader type{HH_CONTENT_TYPE, "text/html"};
    return httpSendResponse(h, 200, &type, 1, kPage, static_cast<uint32_t>(std::strlen(kPage)));
}

} // namespace

int main()
{
    SockInfo wanted{};
    sockInit(&wanted, "127.0.0.1", "", kDemoPort, SP_TCP_SERVER, 0);
    MsgHandler handler{};
    handler.sock = &wanted;
    handler.match = matchAny;
    handler.handle = servePage;
    if (regHandler(&handler) != 0 || setRunState(&handler, 1) != 0) {
        std::fprintf(stderr, "could not register the demo handler\n");
        return 1;
    }
    setRunState(nullptr, 1);
    std::thread loop([] { serverLoop(); });

    static char buf[kMsgBufSize];
    for (int i = 0; i < 3; ++i) {
        auto start = std::chrono::steady_clock::now();
        SockInfo client{};
        sockInit(&client, "127.0.0.1", "", kDemoPort, SP_TCP_CLIENT, 0);
        client.data = buf;
        client.len = sizeof buf;
        if (sockOpen(&client) != 0) {
            std::fprintf(stderr, "connect failed\n");
            break;
        }
        MsgHandler sender{};
        sender.sock = &client;
        HttpHeader host{HH_HOST, "127.0.0.1:30909"};
        httpSendRequest(&sender, HM_GET, "/", &host, 1, nullptr, 0);
        client.len = sizeof buf - 1;
        sockRead(&client);
        sockClose(&client);
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        std::printf("GET / answered in %lld us:\n%s\n", static_cast<long long>(us.count()), buf);
    }
    setRunState(nullptr, 0);
    loop.join();
    serverReset();
    return 0;
}
