// Reading and writing of socket records on the caller's thread (control
// point calls, tests). A read ends when the message is complete: the
// headers are in and, with a Content-Length or chunked coding, the body it
// announces; an answer without framing runs until the peer closes. Every
// read has one deadline for the whole message, so that a peer that trickles
// cannot stretch it. The server loop does not come here: it reads its
// connections without waiting (serverConn.cpp).
#include "httpFrame.h"
#include "log.h"
#include "serverConn.h"
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

struct StreamWaits {
    int firstMs;     // wait for the first piece
    int pauseMs;     // a pause this long ends the message
    int deadlineMs;  // the whole read; 0 for none
};

// True once the text holds one whole message. An answer without framing
// runs until the peer closes.
bool messageComplete(std::string_view raw, bool isResponse)
{
    if (isResponse)
        return httpAnswerState(raw) == AnswerState::Complete;
    return httpFrameRequest(raw, kMsgBufSize).state != FrameState::Incomplete;
}

// Reads one message from a connected stream socket into data (room bytes).
// Returns the byte count, or -1 on a receive error. *ended tells whether
// the peer closed its side.
long readStream(int fd, char *data, uint32_t room, const StreamWaits &waits, bool isResponse, bool *ended)
{
    uint32_t total = 0;
    *ended = false;
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
        if (n == 0) {
            *ended = true;
            break;
        }
        total += static_cast<uint32_t>(n);
        if (messageComplete(std::string_view(data, total), isResponse))
            break;
    }
    return total;
}

// An answer is taken whole, or as far as it runs when it has no framing and
// the peer closed or let the time run out; an answer cut short (the time
// ran out first, or it is larger than the buffer) is an error, never read
// as if it were complete.
bool answerUsable(std::string_view raw, bool ended, bool full)
{
    AnswerState state = httpAnswerState(raw);
    if (state == AnswerState::Complete)
        return true;
    return state == AnswerState::UntilClose && (ended || !full);
}

int readTcpClient(SockInfo *rec, uint32_t room)
{
    // The wait is the whole answer's: a peer that trickles cannot hold the
    // caller for longer.
    int waitMs = (rec->recvTimeout > 0 ? rec->recvTimeout : kClientWaitUs) / 1000;
    bool ended = false;
    long n = readStream(rec->fd, rec->data, room, {waitMs, waitMs, waitMs}, true, &ended);
    if (n < 0) {
        int err = errno;
        consolePrint(" recv() error: %d\r\n", err);
        return QN_ERR_SOCK;
    }
    if (n > 0 && !answerUsable(std::string_view(rec->data, static_cast<size_t>(n)), ended,
                               static_cast<uint32_t>(n) >= room)) {
        debugPrint(LOG_SOCK, "Reading - answer incomplete\r\n", LOG_NOTABLE);
        return QN_ERR_SOCK;
    }
    rec->len = static_cast<uint32_t>(n);
    return 0;
}

int readTcpServer(SockInfo *rec, uint32_t room)
{
    if (rec->workFd == 0 && sockAccept(rec) != 0)
        return QN_ERR_SOCK;
    bool ended = false;
    long n = readStream(rec->workFd, rec->data, room, {kFirstByteWaitMs, kRequestWaitMs, kRequestWaitMs}, false,
                        &ended);
    if (n < 0) {
        int err = errno;
        close(rec->workFd);
        rec->workFd = 0;
        consolePrint(" recv() error: %d\r\n", err);
        return QN_ERR_SOCK;
    }
    RequestFrame frame = httpFrameRequest(std::string_view(rec->data, static_cast<size_t>(n)), room);
    if (n == 0 || frame.state != FrameState::Complete) {
        // Silent, closed at once, cut short or malformed: nothing to serve,
        // and the connection must not hold the socket.
        close(rec->workFd);
        rec->workFd = 0;
        return QN_ERR_SOCK;
    }
    rec->len = static_cast<uint32_t>(frame.length);
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
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return -1; // taken meanwhile: nothing to read, nothing to report
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

int sendAll(int fd, const char *data, size_t len)
{
    size_t sent = 0;
    while (sent < len) {
        ssize_t n = send(fd, data + sent, len - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            consolePrint(" send() error: %d\r\n", errno);
            return QN_ERR_SOCK;
        }
        sent += static_cast<size_t>(n);
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
        httpUnchunkMessage(rec->data, &rec->len);
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
        int rc = sockSend(rec, rec->data, rec->len);
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

int sockSend(SockInfo *rec, const char *data, size_t len)
{
    if (rec == nullptr || data == nullptr)
        return QN_ERR_ARG;
    if (rec->kind == SP_TCP_CLIENT)
        return rec->fd != 0 ? sendAll(rec->fd, data, len) : QN_ERR_SOCK;
    if (rec->kind != SP_TCP_SERVER || rec->workFd == 0)
        return QN_ERR_SOCK;
    if (rec->out != nullptr)
        return connOutputWrite(rec->out, data, len);
    return sendAll(rec->workFd, data, len);
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
