// The HTTP senders on real sockets inside the test's private network: what
// a peer receives, byte for byte, for requests and responses.
#include "http.h"
#include "log.h"
#include "netns.h"
#include "rawnet.h"
#include "server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace {

using qntest::freePort;
using qntest::RawConn;

// A plain listener that accepts one connection and reads what it sends.
class RawListener {
public:
    explicit RawListener(uint16_t port) : fd_(qntest::listenTcp("127.0.0.1", port, 4)) {}
    ~RawListener() { close(fd_); }

    // Accepts and reads until the sender pauses for waitMs or closes.
    std::string acceptAndRead(int waitMs = 1000)
    {
        int conn = accept(fd_, nullptr, nullptr);
        std::string out;
        char buf[8192];
        for (;;) {
            pollfd p{conn, POLLIN, 0};
            if (poll(&p, 1, waitMs) <= 0)
                break;
            ssize_t n = recv(conn, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            out.append(buf, static_cast<size_t>(n));
        }
        close(conn);
        return out;
    }

private:
    int fd_ = -1;
};

// A socket record with a message buffer of its own.
struct OwnSock {
    SockInfo rec{};
    std::vector<char> buffer;

    OwnSock(int kind, const char *addr, uint16_t port, size_t size = kMsgBufSize) : buffer(size)
    {
        sockInit(&rec, addr, "", port, kind, 0);
        rec.data = buffer.data();
        rec.len = static_cast<uint32_t>(size - 1);
    }
    ~OwnSock()
    {
        if (rec.fd != 0)
            sockClose(&rec);
    }
};

std::vector<std::string> logLines;
void recordLog(int32_t, const char *text, int32_t) { logLines.emplace_back(text); }

struct LogCapture {
    LogCapture()
    {
        logLines.clear();
        qnSetDebugSink(recordLog);
        qnSetDebugLevel(LOG_SOCK, 1, LOG_ERROR);
    }
    ~LogCapture()
    {
        qnSetDebugSink(nullptr);
        qnSetDebugLevel(QN_LOG_ALL_CATEGORIES, 0, 0);
    }
};

HttpHeader makeHeader(int index, const std::string &value)
{
    HttpHeader h{index, ""};
    copyBounded(h.value, sizeof h.value, value);
    return h;
}

std::string sendRequest(int method, const char *uri, const std::vector<HttpHeader> &headers,
                        const std::string &body, size_t bufferSize = kMsgBufSize)
{
    uint16_t port = freePort();
    RawListener peer(port);
    OwnSock client(SP_TCP_CLIENT, "127.0.0.1", port, bufferSize);
    EXPECT_EQ(sockOpen(&client.rec), 0);
    auto received = std::async(std::launch::async, [&peer] { return peer.acceptAndRead(); });
    MsgHandler handler{};
    handler.sock = &client.rec;
    EXPECT_EQ(httpSendRequest(&handler, method, uri, headers.data(), static_cast<int>(headers.size()),
                              body.empty() ? nullptr : body.c_str(), static_cast<uint32_t>(body.size())),
              0);
    EXPECT_EQ(client.rec.len, bufferSize - 1) << "the record keeps its room for the answer";
    sockClose(&client.rec);
    return received.get();
}

TEST(HttpSendRequest, PostCarriesTheCallersHeadersThenLengthConnectionPragma)
{
    std::string body(300, 'b');
    std::string got = sendRequest(HM_POST, "/ctl/ContentDir",
                                  {{HH_HOST, "127.0.0.1:8200"}, {HH_CONTENT_TYPE, "text/xml; charset=\"utf-8\""}},
                                  body);
    EXPECT_EQ(got, "POST /ctl/ContentDir HTTP/1.1\r\n"
                   "Host: 127.0.0.1:8200\r\n"
                   "Content-Type: text/xml; charset=\"utf-8\"\r\n"
                   "Content-Length: 300\r\n"
                   "Connection: close\r\n"
                   "Pragma: no-cache\r\n"
                   "\r\n" + body);
}

TEST(HttpSendRequest, WithoutBodyAddsNothing)
{
    std::string got = sendRequest(HM_SUBSCRIBE, "/evt/ContentDir",
                                  {{HH_HOST, "127.0.0.1:8200"}, {HH_CALLBACK, "<http://127.0.0.1:30808/>"},
                                   {HH_NT, "upnp:event"}, {HH_TIMEOUT, "Second-1800"}},
                                  "");
    EXPECT_EQ(got, "SUBSCRIBE /evt/ContentDir HTTP/1.1\r\nHost: 127.0.0.1:8200\r\n"
                   "Callback: <http://127.0.0.1:30808/>\r\nNt: upnp:event\r\nTimeout: Second-1800\r\n\r\n");
}

// Bodies larger than the buffer and a buffer smaller than one line: the
// text is streamed in pieces and arrives whole and in order.
TEST(HttpSendRequest, StreamsThroughAnyBuffer)
{
    std::string large;
    for (int i = 0; i < 30000; ++i)
        large += static_cast<char>('a' + i % 26) + std::to_string(i % 10);
    std::string location(QN_VAL_MAX_LEN - 1, 'L');
    for (size_t size : {size_t{8}, size_t{64}, size_t{1000}, kMsgBufSize}) {
        std::string got = sendRequest(HM_POST, "/big", {{HH_HOST, "h"}, makeHeader(HH_LOCATION, location)},
                                      large, size);
        std::string head = "POST /big HTTP/1.1\r\nHost: h\r\nLocation: " + location +
                           "\r\nContent-Length: " + std::to_string(large.size()) +
                           "\r\nConnection: close\r\nPragma: no-cache\r\n\r\n";
        ASSERT_EQ(got.size(), head.size() + large.size()) << size;
        EXPECT_TRUE(got == head + large) << size;
    }
}

TEST(HttpSendRequest, SurplusCallerHeadersAreDroppedAndLogged)
{
    LogCapture log;
    std::vector<HttpHeader> headers;
    for (int i = 0; i < 12; ++i)
        headers.push_back(makeHeader(HH_SEQ, std::to_string(i)));
    std::string got = sendRequest(HM_NOTIFY, "/gena", headers, "<e/>");
    EXPECT_EQ(got, "NOTIFY /gena HTTP/1.1\r\nSeq: 0\r\nSeq: 1\r\nSeq: 2\r\nSeq: 3\r\nSeq: 4\r\nSeq: 5\r\n"
                   "Seq: 6\r\nContent-Length: 4\r\nConnection: close\r\nPragma: no-cache\r\n\r\n<e/>");
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0], "Request - too many http headers\r\n");
}

TEST(HttpSendRequest, DatagramToAPeer)
{
    int peer = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(peer, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    socklen_t size = sizeof sa;
    getsockname(peer, reinterpret_cast<sockaddr *>(&sa), &size);

    OwnSock sender(SP_UDP, "127.0.0.1", ntohs(sa.sin_port));
    ASSERT_EQ(sockOpen(&sender.rec), 0);
    MsgHandler handler{};
    handler.sock = &sender.rec;
    HttpHeader headers[] = {{HH_HOST, "239.255.255.250:1900"}, {HH_MAN, "\"ssdp:discover\""}, {HH_MX, "3"},
                            {HH_ST, "ssdp:all"}};
    ASSERT_EQ(httpSendRequest(&handler, HM_MSEARCH, "*", headers, 4, nullptr, 0), 0);
    char datagram[2048];
    ssize_t n = recv(peer, datagram, sizeof datagram, 0);
    close(peer);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(datagram, static_cast<size_t>(n)),
              "M-SEARCH * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\nMan: \"ssdp:discover\"\r\nMx: 3\r\n"
              "St: ssdp:all\r\n\r\n");
}

TEST(HttpSendRequest, Arguments)
{
    OwnSock rec(SP_TCP_CLIENT, "127.0.0.1", 9);
    MsgHandler handler{};
    EXPECT_EQ(httpSendRequest(nullptr, HM_GET, "/", nullptr, 0, nullptr, 0), QN_ERR_ARG);
    EXPECT_EQ(httpSendRequest(&handler, HM_GET, "/", nullptr, 0, nullptr, 0), QN_ERR_ARG);
    handler.sock = &rec.rec;
    EXPECT_EQ(httpSendRequest(&handler, HM_RESPONSE, "/", nullptr, 0, nullptr, 0), QN_ERR_ARG);
    EXPECT_EQ(httpSendRequest(&handler, -1, "/", nullptr, 0, nullptr, 0), QN_ERR_ARG);
    EXPECT_EQ(httpSendRequest(&handler, HM_GET, nullptr, nullptr, 0, nullptr, 0), QN_ERR_ARG);
    EXPECT_EQ(httpSendRequest(&handler, HM_GET, "/", nullptr, 2, nullptr, 0), QN_ERR_ARG);
    // The body may not live in the buffer the request is written into.
    EXPECT_EQ(httpSendRequest(&handler, HM_POST, "/", nullptr, 0, rec.buffer.data() + 10, 5), QN_ERR_ARG);
    rec.rec.len = 0;
    EXPECT_EQ(httpSendRequest(&handler, HM_GET, "/", nullptr, 0, nullptr, 0), QN_ERR_ARG);
}

// ---- Responses ----------------------------------------------------------------

// A served request as the server loop holds it: read from an accepted
// connection and parsed through a document over the socket's buffer.
struct ListeningSock : OwnSock {
    explicit ListeningSock(uint16_t port) : OwnSock(SP_TCP_SERVER, "", port) { EXPECT_EQ(sockOpen(&rec), 0); }
};

struct Served {
    ListeningSock server;
    RawConn client;
    QNTextDoc doc{};
    HttpMsg msg{};
    MsgHandler handler{};

    Served(uint16_t port, const std::string &request) : server(port), client("127.0.0.1", port)
    {
        client.send(request);
        EXPECT_EQ(sockPoll(&server.rec, 2000), 0);
        EXPECT_EQ(sockRead(&server.rec), 0);
        doc = kHttpDocTemplate;
        docInitRead(&doc, server.rec.data);
        doc.size = static_cast<uint32_t>(server.buffer.size());
        msg.sock = &server.rec;
        EXPECT_EQ(httpParse(&doc, &msg), 0);
        handler.sock = &server.rec;
        handler.msg = &msg;
    }
};

TEST(HttpSendResponse, AnswersAndClosesTheConnection)
{
    Served s(freePort(), "GET /desc.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    HttpHeader type{HH_CONTENT_TYPE, "text/xml"};
    ASSERT_EQ(httpSendResponse(&s.handler, 200, &type, 1, "<a/>x", 5), 0);
    EXPECT_EQ(s.server.rec.workFd, 0);
    EXPECT_EQ(s.client.readAll(), "HTTP/1.1 200 OK\r\n"
                                  "Content-Type: text/xml\r\n"
                                  "Server: Corvanta UPnP Server, UPnP/1.0\r\n"
                                  "Connection: close\r\n"
                                  "Content-Length: 5\r\n"
                                  "\r\n<a/>x");
    EXPECT_EQ(s.msg.method, HM_RESPONSE);
}

TEST(HttpSendResponse, StatusesOutsideTheTableAreSentAs500)
{
    Served s(freePort(), "SUBSCRIBE /evt HTTP/1.1\r\nHost: h\r\n\r\n");
    ASSERT_EQ(httpSendResponse(&s.handler, 299, nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(s.client.readAll(), "HTTP/1.1 500 Internal Server Error\r\n"
                                  "Server: Corvanta UPnP Server, UPnP/1.0\r\n\r\n");
}

const char *testServerName(const MsgHandler *handler)
{
    return handler->entity == 3 ? "Linux/6 UPnP/1.0 Test/1.0" : nullptr;
}

TEST(HttpSendResponse, ServerNameComesFromTheLookup)
{
    setServerNameLookup(testServerName);
    for (int entity : {3, 4}) {
        Served s(freePort(), "GET / HTTP/1.1\r\n\r\n");
        s.handler.entity = entity;
        ASSERT_EQ(httpSendResponse(&s.handler, 404, nullptr, 0, nullptr, 0), 0);
        std::string name = entity == 3 ? "Linux/6 UPnP/1.0 Test/1.0" : kDefaultServerName;
        EXPECT_EQ(s.client.readAll(), "HTTP/1.1 404 Not Found\r\nServer: " + name + "\r\n\r\n") << entity;
    }
    setServerNameLookup(nullptr);
}

TEST(HttpSendResponse, LargeBodyArrivesWhole)
{
    std::string body;
    for (int i = 0; i < 50000; ++i)
        body += "<v>" + std::to_string(i) + "</v>";
    Served s(freePort(), "POST /ctl HTTP/1.1\r\nContent-Length: 2\r\n\r\nab");
    auto received = std::async(std::launch::async, [&s] { return s.client.readAll(); });
    HttpHeader type{HH_CONTENT_TYPE, "text/xml; charset=\"utf-8\""};
    ASSERT_EQ(httpSendResponse(&s.handler, 200, &type, 1, body.c_str(), static_cast<uint32_t>(body.size())), 0);
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"
                       "Server: Corvanta UPnP Server, UPnP/1.0\r\nConnection: close\r\n"
                       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    std::string got = received.get();
    ASSERT_EQ(got.size(), head.size() + body.size());
    EXPECT_TRUE(got == head + body);
}

TEST(HttpSendResponse, SurplusHeadersAreDroppedAndLogged)
{
    LogCapture log;
    Served s(freePort(), "GET / HTTP/1.1\r\n\r\n");
    std::vector<HttpHeader> headers(10, HttpHeader{HH_EXT, ""});
    ASSERT_EQ(httpSendResponse(&s.handler, 200, headers.data(), 10, "x", 1), 0);
    std::string expected = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < kMaxHeaders - 3; ++i)
        expected += "Ext: \r\n";
    expected += "Server: Corvanta UPnP Server, UPnP/1.0\r\nConnection: close\r\nContent-Length: 1\r\n\r\nx";
    EXPECT_EQ(s.client.readAll(), expected);
    ASSERT_EQ(logLines.size(), 1u);
    EXPECT_EQ(logLines[0], "Response - too many http headers\r\n");
}

// A handler may answer with headers taken from the request it is answering.
TEST(HttpSendResponse, HeadersTakenFromTheRequest)
{
    Served s(freePort(), "SUBSCRIBE /evt HTTP/1.1\r\nHost: h\r\nSid: uuid:1\r\nTimeout: Second-300\r\n\r\n");
    ASSERT_EQ(httpSendResponse(&s.handler, 200, &s.msg.headers[1], 2, nullptr, 0), 0);
    EXPECT_EQ(s.client.readAll(), "HTTP/1.1 200 OK\r\nSid: uuid:1\r\nTimeout: Second-300\r\n"
                                  "Server: Corvanta UPnP Server, UPnP/1.0\r\n\r\n");
}

TEST(HttpSendResponse, Arguments)
{
    Served s(freePort(), "POST /ctl HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody");
    EXPECT_EQ(httpSendResponse(nullptr, 200, nullptr, 0, nullptr, 0), QN_ERR_ARG);
    // The body may not be the request's own text: the response overwrites it.
    EXPECT_EQ(httpSendResponse(&s.handler, 200, nullptr, 0, s.msg.body + 2, 4), QN_ERR_ARG);
    EXPECT_EQ(httpSendResponse(&s.handler, 200, nullptr, 3, nullptr, 0), QN_ERR_ARG);
    s.msg.doc = nullptr;
    EXPECT_EQ(httpSendResponse(&s.handler, 200, nullptr, 0, nullptr, 0), QN_ERR_ARG);
    s.handler.msg = nullptr;
    EXPECT_EQ(httpSendResponse(&s.handler, 200, nullptr, 0, nullptr, 0), QN_ERR_ARG);
    EXPECT_NE(s.server.rec.workFd, 0) << "nothing was answered, nothing closed";
    sockCloseWork(&s.server.rec);
}

} // namespace
