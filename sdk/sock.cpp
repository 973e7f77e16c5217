#include "sock.h"

#include "httpFrame.h"
#include "log.h"
#include "text.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <cerrno>
#include <cstring>

namespace {

// Ports of the stack's own datagram sockets. A datagram from the interface
// address whose source port is one of these is our own (an echo, or the
// answer of one of our entities to another, which the single server thread
// could not serve anyway); any other datagram from this host, another
// program's device or control point, is a real message. A closed socket's
// port stays ours for a while: its last datagrams may still be queued.
constexpr int kOwnPortSlots = 64;
constexpr int64_t kOwnPortLingerMs = 30000;

struct OwnPort {
    uint16_t port;
    bool open;
    int64_t until; // closed: ours until then (steady ms)
};
std::mutex ownPortsLock;
OwnPort ownPorts[kOwnPortSlots];

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void rememberOwnPort(uint16_t port)
{
    if (port == 0)
        return;
    std::lock_guard guard(ownPortsLock);
    int64_t now = steadyMs();
    OwnPort *free = nullptr;
    for (OwnPort &slot : ownPorts) {
        if (slot.port == port || (free == nullptr && (slot.port == 0 || (!slot.open && slot.until < now))))
            free = &slot;
        if (slot.port == port)
            break;
    }
    if (free != nullptr)
        *free = OwnPort{port, true, 0};
}

void forgetOwnPort(uint16_t port)
{
    if (port == 0)
        return;
    std::lock_guard guard(ownPortsLock);
    for (OwnPort &slot : ownPorts)
        if (slot.port == port && slot.open)
            slot = OwnPort{port, false, steadyMs() + kOwnPortLingerMs};
}

bool isOwnPort(uint16_t port)
{
    if (port == 0)
        return false;
    std::lock_guard guard(ownPortsLock);
    int64_t now = steadyMs();
    for (const OwnPort &slot : ownPorts)
        if (slot.port == port && (slot.open || slot.until >= now))
            return true;
    return false;
}

void closeFd(int fd)
{
    if (fd > 0) {
        shutdown(fd, SHUT_RDWR);
        close(fd);
    }
}

uint16_t boundPort(int fd)
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return 0;
    return ntohs(local.sin_port);
}

in_addr textAddr(const char *text)
{
    in_addr a{};
    if (text == nullptr || inet_pton(AF_INET, text, &a) != 1)
        a.s_addr = htonl(INADDR_ANY);
    return a;
}

sockaddr_in makeAddr(const char *text, uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = textAddr(text);
    return sa;
}

// Waits until fd is readable; true when it is.
bool waitReadable(int fd, int waitMs)
{
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        int n = poll(&p, 1, waitMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}

int setupTcpServer(int fd, const SockInfo *rec)
{
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on); // restart without TIME_WAIT trouble
    sockaddr_in sa = makeAddr(nullptr, rec->port);
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        consolePrint(" bind() error: 0x%x\r\n", errno);
        return QN_ERR_SOCK;
    }
    if (listen(fd, SOMAXCONN) != 0) {
        consolePrint(" listen() error: 0x%x\r\n", errno);
        return QN_ERR_SOCK;
    }
    // Readiness seen by poll may be gone by the time we accept (the peer
    // reset, or the socket was replaced meanwhile): accept must never block
    // the server thread, so the listener does not block.
    // Connections are accepted at once, silent ones too: the loop gives
    // each a deadline of its own and closes it when nothing comes.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    return 0;
}

// A busy network answers a search, or announces a process's devices, in
// one burst of hundreds of datagrams: the kernel's default receive buffer
// holds about 160 of them, and the rest would be lost while the server
// thread downloads a description. Root may go past the system's limit.
void widenReceiveBuffer(int fd)
{
    int size = kSsdpReceiveBuffer;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

int setupMcastClient(int fd, const SockInfo *rec)
{
    widenReceiveBuffer(fd); // search responses arrive here
    in_addr iface = textAddr(rec->ifaceAddr);
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &iface, sizeof iface) != 0)
        consolePrint(" setsockopt(IP_MULTICAST_IF) error: %d\r\n", errno);
    unsigned char ttl = 4;
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0)
        consolePrint(" setsockopt(IP_MULTICAST_TTL) error: %d\r\n", errno);
    return 0;
}

int joinGroup(int fd, const char *group, in_addr iface)
{
    ip_mreq mreq{};
    mreq.imr_multiaddr = textAddr(group);
    mreq.imr_interface = iface;
    return setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &mreq, sizeof mreq);
}

int setupMcastServer(int fd, const SockInfo *rec)
{
    widenReceiveBuffer(fd);
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        consolePrint(" setsockopt(SO_REUSEADDR) error: 0x%x\r\n", errno);
        return QN_ERR_SOCK;
    }
    sockaddr_in sa = makeAddr(nullptr, rec->port);
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        consolePrint(" bind() error: 0x%x\r\n", errno);
        return QN_ERR_SOCK;
    }
    if (joinGroup(fd, rec->addr, textAddr(nullptr)) != 0) {
        consolePrint(" setsockopt(IP_ADD_MEMBERSHIP) error: 0x%x\r\n", errno);
        return QN_ERR_SOCK;
    }
    // Also listen on the configured interface when it is not the default one
    // (a second card, a VPN, a test veth); joining it twice is harmless.
    in_addr iface = textAddr(rec->ifaceAddr);
    if (iface.s_addr != htonl(INADDR_ANY))
        (void)joinGroup(fd, rec->addr, iface);
    unsigned char ttl = 4;
    (void)setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    // A search is answered only to a peer of the interface it came in on.
    (void)setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        consolePrint(" setsockopt(IP_MULTICAST_TTL) error: 0x%x\r\n", errno);
        return QN_ERR_SOCK;
    }
    return 0;
}

int connectWithin(int fd, const SockInfo *rec)
{
    // Outgoing connections leave from the entity's configured address.
    if (rec->ifaceAddr[0] != '\0') {
        sockaddr_in local = makeAddr(rec->ifaceAddr, 0);
        (void)bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    }
    int err = sockConnectWithin(fd, makeAddr(rec->addr, rec->port), kConnectWaitMs);
    if (err != 0) {
        consolePrint(" connect() error: 0x%x\r\n", err);
        return QN_ERR_SOCK;
    }
    return 0;
}

} // namespace

int sockInit(SockInfo *rec, const char *addr, const char *ifaceAddr, uint16_t port, int kind,
             int32_t recvTimeout)
{
    if (rec == nullptr || kind >= kSockKindCount || kind < SP_NONE)
        return QN_ERR_ARG;
    copyBounded(rec->addr, sizeof rec->addr, addr ? addr : "");
    copyBounded(rec->ifaceAddr, sizeof rec->ifaceAddr, ifaceAddr ? ifaceAddr : "");
    rec->port = port;
    rec->kind = kind;
    rec->recvTimeout = recvTimeout;
    return 0;
}

int sockOpen(SockInfo *rec)
{
    if (rec == nullptr || rec->kind >= kSockKindCount || rec->kind < SP_NONE)
        return QN_ERR_ARG;
    if (rec->fd != 0 || rec->kind == SP_NONE)
        return 0;
    if (rec->workFd != 0)
        return QN_ERR_SOCK;
    bool stream = rec->kind == SP_TCP_CLIENT || rec->kind == SP_TCP_SERVER;
    int fd = socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (fd >= 0)
        fd = sockAvoidZero(fd);
    if (fd < 0) {
        consolePrint(" socket() error: 0x%x\r\n", errno);
        return QN_ERR_SOCK;
    }
    int rc = 0;
    switch (rec->kind) {
    case SP_TCP_CLIENT:
        rc = connectWithin(fd, rec);
        sockBoundSends(fd);
        break;
    case SP_TCP_SERVER: rc = setupTcpServer(fd, rec); break;
    case SP_MCAST_CLIENT: rc = setupMcastClient(fd, rec); break;
    case SP_MCAST_SERVER: rc = setupMcastServer(fd, rec); break;
    default: break;
    }
    if (rc != 0) {
        closeFd(fd);
        return QN_ERR_SOCK;
    }
    rec->fd = fd;
    rec->localPort = 0;
    rec->listenPort = rec->kind == SP_TCP_SERVER ? boundPort(fd) : 0;
    if (!stream) {
        // Datagram senders get their port on the first send; bind now so that
        // the port is known and our own echoes can be recognised.
        if (rec->kind != SP_MCAST_SERVER) {
            // Search answers leave from the address their Location names.
            bool fromIface = rec->kind == SP_MCAST_CLIENT || rec->kind == SP_UDP;
            sockaddr_in any = makeAddr(fromIface ? rec->ifaceAddr : nullptr, 0);
            (void)bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any);
        }
        rec->localPort = boundPort(fd);
        // The listener never sends; other programs' SSDP sockets share its
        // port 1900 (and send from it), so it must not count as ours.
        if (rec->kind != SP_MCAST_SERVER)
            rememberOwnPort(rec->localPort);
    }
    return 0;
}

int sockPoll(SockInfo *rec, int waitMs)
{
    if (rec == nullptr || rec->fd == 0)
        return QN_ERR_ARG;
    if (rec->kind == SP_TCP_SERVER && rec->workFd != 0) {
        consolePrint(": should read workFd first");
        return -1;
    }
    if (!waitReadable(rec->fd, waitMs))
        return -1;
    if (rec->kind != SP_TCP_SERVER)
        return 0;
    return sockAccept(rec);
}

int sockAccept(SockInfo *rec)
{
    if (rec == nullptr || rec->fd == 0 || rec->kind != SP_TCP_SERVER)
        return QN_ERR_ARG;
    socklen_t size = sizeof rec->peer;
    // The accepted connection blocks (with bounded waits), whatever the listener does.
    int fd = accept4(rec->fd, reinterpret_cast<sockaddr *>(&rec->peer), &size, SOCK_CLOEXEC);
    if (fd >= 0)
        fd = sockAvoidZero(fd);
    if (fd < 0) {
        rec->workFd = 0;
        return QN_ERR_SOCK;
    }
    sockBoundSends(fd);
    rec->workFd = fd;
    return 0;
}

bool sockIsOwnDatagram(const SockInfo *rec)
{
    if (rec == nullptr)
        return false;
    in_addr iface = textAddr(rec->ifaceAddr);
    bool fromIface = iface.s_addr == htonl(INADDR_ANY) || rec->peer.sin_addr.s_addr == iface.s_addr;
    return fromIface && isOwnPort(ntohs(rec->peer.sin_port));
}

int sockSame(const SockInfo *a, const SockInfo *b)
{
    if (a == nullptr || b == nullptr)
        return -1;
    return a->kind == b->kind && a->port == b->port ? 0 : -1;
}

int sockCloseWork(SockInfo *rec)
{
    if (rec == nullptr || rec->fd == 0)
        return QN_ERR_ARG;
    switch (rec->kind) {
    case SP_UDP:
        return QN_ERR_UNSUPPORTED;
    case SP_TCP_SERVER:
        if (rec->workFd == 0) {
            consolePrint(" SP_TCP_SERVER !workFd\r\n");
            return QN_ERR_SOCK;
        }
        // The loop's connection is closed by the loop, once the answer is out.
        if (rec->out == nullptr)
            closeFd(rec->workFd);
        rec->workFd = 0;
        return 0;
    case SP_MCAST_SERVER:
        consolePrint(" SP_MCAST_SERVER ???????\r\n");
        return 0;
    default:
        return -1;
    }
}

int sockClose(SockInfo *rec)
{
    if (rec == nullptr || rec->fd == 0)
        return QN_ERR_ARG;
    if (rec->kind < 0 || rec->kind >= kSockKindCount)
        return -1;
    if (rec->workFd != 0 && rec->out == nullptr)
        closeFd(rec->workFd);
    rec->out = nullptr;
    forgetOwnPort(rec->localPort);
    rec->localPort = 0;
    rec->listenPort = 0;
    closeFd(rec->fd);
    rec->fd = 0;
    rec->workFd = 0;
    return 0;
}

int sockAvoidZero(int fd)
{
    if (fd != 0)
        return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    return moved;
}

void sockBoundSends(int fd)
{
    timeval tv{kSendWaitMs / 1000, (kSendWaitMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

int sockConnectWithin(int fd, const sockaddr_in &peer, int waitMs)
{
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int err = connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int n = 0;
        do {
            n = poll(&p, 1, waitMs);
        } while (n < 0 && errno == EINTR);
        socklen_t size = sizeof err;
        if (n <= 0)
            err = ETIMEDOUT;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0)
            err = errno;
    }
    fcntl(fd, F_SETFL, flags);
    return err;
}
