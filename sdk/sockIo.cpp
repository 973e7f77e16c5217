// Reading and writing of socket records. A read ends when the message is
// complete: the headers are in and, with a Content-Length, that many body
// bytes have arrived; otherwise when the peer closes, pauses or fills the
// buffer. Every wait is bounded.
#include "httpFrame.h"
#include "log.h"
#include "sock.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

namespace {

using Clock = std::chrono::steady_clock;

bool waitReadable(int fd, int waitMs)
{
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        int n = poll(&p, 1, waitMs < 0 ? 0 : waitMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}

// An interim "100 Continue" head is skipped: the real response follows it.
std::string_view skipInterim(std::string_view raw)
{
    while (raw.size() > 12 && (raw.substr(0, 12) == "HTTP/1.1 100" || raw.substr(0, 12) == "HTTP/1.0 100")) {
        size_t end = httpHeadersEnd(raw);
        if (end == std::string_view::npos)
            break;
        raw.remove_prefix(end);
    }
    return raw;
}

bool chunkedBodyComplete(std::string_view body)
{
    // The last chunk has size 0 and the (empty) trailer ends with CR LF.
    return body == "0\r\n\r\n" || (body.size() >= 7 && body.substr(body.size() - 7) == "\r\n0\r\n\r\n");
}

// True once the text holds one whole message.
bool messageComplete(std::string_view raw, bool isResponse)
{
    raw = skipInterim(raw);
    size_t headEnd = httpHeadersEnd(raw);
    if (headEnd == std::string_view::npos)
        return false;
    std::string_view head = raw.substr(0, headEnd);
    long long length = httpContentLength(head);
    if (length >= 0)
        return raw.size() - headEnd >= static_cast<unsigned long long>(length);
    if (httpIsChunked(head))
        return chunkedBodyComplete(raw.substr(headEnd));
    // A request without Content-Length or chunking has no body (RFC 2616,
    // 4.4); a response without either runs until the peer closes.
    return !isResponse;
}

// Removes the chunk markup of a chunked message so that it never reaches a parser.
void dechunkInPlace(char *data, uint32_t *len)
{
    std::string_view raw(data, *len);
    std::string_view msg = skipInterim(raw);
    size_t headEnd = httpHeadersEnd(msg);
    if (headEnd == std::string_view::npos || !httpIsChunked(msg.substr(0, headEnd)))
        return;
    size_t bodyStart = static_cast<size_t>(msg.data() - data) + headEnd;
    size_t bodyLen = 0;
    if (httpDechunk(data + bodyStart, *len - bodyStart, &bodyLen) < 0)
        bodyLen = 0; // malformed chunking: no body rather than markup
    *len = static_cast<uint32_t>(bodyStart + bodyLen);
    data[*len] = '\0';
}

struct StreamWaits {
    int firstMs;     // wait for the first piece
    int pauseMs;     // a pause this long ends the message
    int deadlineMs;  // the whole read; 0 for none
};

// Reads one message from a connected stream socket into data (room bytes).
// Returns the byte count, or -1 on a receive error.
long readStream(int fd, char *data, uint32_t room, const StreamWaits &waits, bool isResponse)
{
    uint32_t total = 0;
    auto start = Clock::now();
    while (total < room) {
        int wait = total == 0 ? waits.firstMs : waits.pauseMs;
        if (waits.deadlineMs > 0) {
            auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            int left = waits.deadlineMs - static_cast<int>(spent);
            if (left <= 0)
                break;
            wait = wait < left ? wait : left;
        }
        if (!waitReadable(fd, wait)) {
            debugPrint(LOG_SOCK, "Reading - select err", LOG_DETAIL);
            break;
        }
        ssize_t n = recv(fd, data + total, room - total, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        total += static_cast<uint32_t>(n);
        if (messageComplete(std::string_view(data, total), isResponse))
            break;
    }
    return total;
}

int readTcpClient(SockInfo *rec, uint32_t room)
{
    int waitMs = (rec->recvTimeout > 0 ? rec->recvTimeout : kClientWaitUs) / 1000;
    long n = readStream(rec->fd, rec->data, room, {waitMs, waitMs, 0}, true);
    if (n < 0) {
        int err = errno;
        consolePrint(" recv() error: %d\r\n", err);
        return QN_ERR_SOCK;
    }
    rec->len = static_cast<uint32_t>(n);
    return 0;
}

int readTcpServer(SockInfo *rec, uint32_t room)
{
    if (rec->workFd == 0 && sockAccept(rec) != 0)
        return QN_ERR_SOCK;
    long n = readStream(rec->workFd, rec->data, room, {kFirstByteWaitMs, kPauseWaitMs, kRequestWaitMs}, false);
    if (n < 0) {
        int err = errno;
        close(rec->workFd);
        rec->workFd = 0;
        consolePrint(" recv() error: %d\r\n", err);
        return QN_ERR_SOCK;
    }
    if (n == 0) {
        // Silent or closed at once: nothing to serve, and the connection must
        // not hold the socket.
        close(rec->workFd);
        rec->workFd = 0;
        return QN_ERR_SOCK;
    }
    rec->len = static_cast<uint32_t>(n);
    return 0;
}

// The interface a datagram came in on, from its IP_PKTINFO; 0 when the
// socket does not ask for it.
int32_t arrivalInterface(msghdr &hdr)
{
    for (cmsghdr *c = CMSG_FIRSTHDR(&hdr); c != nullptr; c = CMSG_NXTHDR(&hdr, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
            return reinterpret_cast<const in_pktinfo *>(CMSG_DATA(c))->ipi_ifindex;
    return 0;
}

int readDatagram(SockInfo *rec, uint32_t room)
{
    iovec io{rec->data, room};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr hdr{};
    hdr.msg_name = &rec->peer;
    hdr.msg_namelen = sizeof rec->peer;
    hdr.msg_iov = &io;
    hdr.msg_iovlen = 1;
    hdr.msg_control = control;
    hdr.msg_controllen = sizeof control;
    // Never wait here: the loop has polled, and a datagram it saw may have
    // been taken meanwhile by another reader of the same socket.
    ssize_t n = recvmsg(rec->fd, &hdr, MSG_DONTWAIT);
    if (n < 0) {
        consolePrint(" recvfrom() error: %d\r\n", errno);
        return QN_ERR_SOCK;
    }
    rec->len = static_cast<uint32_t>(n);
    rec->ifIndex = arrivalInterface(hdr);
    if (sockIsOwnDatagram(rec))
        return -1;
    return 0;
}

int sendAll(int fd, const char *data, uint32_t len)
{
    uint32_t sent = 0;
    while (sent < len) {
        ssize_t n = send(fd, data + sent, len - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            consolePrint(" send() error: %d\r\n", errno);
            return QN_ERR_SOCK;
        }
        sent += static_cast<uint32_t>(n);
    }
    return 0;
}

} // namespace

int sockRead(SockInfo *rec)
{
    if (rec == nullptr || rec->fd == 0 || rec->data == nullptr)
        return QN_ERR_ARG;
    if (rec->kind < 0 || rec->kind >= kSockKindCount)
        return -1;
    uint32_t room = rec->len;
    int rc = 0;
    switch (rec->kind) {
    case SP_UDP: return QN_ERR_UNSUPPORTED;
    case SP_TCP_CLIENT: rc = readTcpClient(rec, room); break;
    case SP_TCP_SERVER: rc = readTcpServer(rec, room); break;
    default: rc = readDatagram(rec, room); break;
    }
    if (rc != 0) {
        rec->len = 0;
        rec->data[0] = '\0';
        return rc;
    }
    rec->data[rec->len] = '\0';
    if (rec->kind == SP_TCP_CLIENT || rec->kind == SP_TCP_SERVER)
        dechunkInPlace(rec->data, &rec->len);
    return 0;
}

int sockWrite(SockInfo *rec)
{
    if (rec == nullptr || rec->fd == 0 || rec->data == nullptr || rec->len == 0)
        return QN_ERR_ARG;
    switch (rec->kind) {
    case SP_TCP_CLIENT: {
        int rc = sendAll(rec->fd, rec->data, rec->len);
        rec->len = 0;
        return rc;
    }
    case SP_TCP_SERVER: {
        if (rec->workFd == 0)
            return QN_ERR_SOCK;
        int rc = sendAll(rec->workFd, rec->data, rec->len);
        rec->len = 0;
        return rc;
    }
    case SP_UDP:
    case SP_MCAST_CLIENT:
    case SP_MCAST_SERVER: {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(rec->port);
        inet_pton(AF_INET, rec->addr, &to.sin_addr);
        if (sendto(rec->fd, rec->data, rec->len, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
            consolePrint(" sendto() error: %d\r\n", errno);
            sockClose(rec);
            return QN_ERR_SOCK;
        }
        return 0;
    }
    default:
        return -1;
    }
}

int sockSendTo(const SockInfo *rec, const char *data, uint32_t len, const char *addr, uint16_t port)
{
    if (rec == nullptr || rec->fd == 0 || data == nullptr || len == 0 || addr == nullptr)
        return QN_ERR_ARG;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, addr, &to.sin_addr) != 1)
        return QN_ERR_ARG;
    if (sendto(rec->fd, data, len, MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
        consolePrint(" sendto() error: %d\r\n", errno);
        return QN_ERR_SOCK;
    }
    return 0;
}
