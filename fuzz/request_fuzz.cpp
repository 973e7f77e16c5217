// Hostile HTTP requests through the server's connection path: the device's
// control port (SOAP, GENA), its file service and a control point's event
// listener, with the input's first byte choosing the socket. The rest
// arrives on an accepted connection (one end of a socket pair) whose
// writer then closes its side; the connection reads and frames it as the
// loop does, a complete request is checked and dispatched to the role that
// takes it, and the answer is sent until it is out. Whatever comes back is
// empty or starts with one status line.
#include "fuzzStack.h"
#include "serverConn.h"
#include "serverTables.h"

#include <sys/socket.h>

using namespace qnfuzz;

namespace {

int slotOf(const SockInfo *sock)
{
    for (int i = 0; i < kMaxSockets; ++i)
        if (slotInUse(i) && &serverRecord().sockets[i].sock == sock)
            return i;
    return -1;
}

// Reads what the stack has sent so far; checks that it starts as an answer.
void drainAnswer(int fd, size_t &total)
{
    static char answer[1 << 16];
    for (;;) {
        ssize_t n = recv(fd, answer, sizeof answer, MSG_DONTWAIT);
        if (n <= 0)
            return;
        if (total == 0)
            check(n >= 12 && std::strncmp(answer, "HTTP/1.", 7) == 0);
        total += static_cast<size_t>(n);
    }
}

void sendAll(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzStack &stack = fuzzStack();
    if (!stack.ready || size == 0)
        return 0;
    static int runs = 0;
    static ConnTable conns;
    std::lock_guard guard(stackLock());
    // Subscriptions accumulate; the table starts empty now and then.
    if (++runs % 128 == 0)
        genaForgetDevice(stack.device);
    uint8_t pick = data[0] % 3;
    SockInfo *sock = pick == 0   ? stack.socketOf(stack.device, DR_SOAP)
                     : pick == 1 ? stack.socketOf(stack.device, DR_FILE)
                                 : stack.socketOf(stack.tracker, CR_EVENT);
    int slot = slotOf(sock);
    check(slot >= 0 && sock->data != nullptr && sock->workFd == 0 && sock->out == nullptr);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return 0;
    int room = 1 << 20; // the whole request, and the whole answer, fit
    for (int fd : pair) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    }
    sendAll(pair[1], data + 1, size - 1);
    // The peer has said all it will: an incomplete request is refused, and
    // a role that waits for the peer to close (a new subscriber) learns so.
    shutdown(pair[1], SHUT_WR);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(45000);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ServerConn *conn = conns.add(pair[0], slot, sock->fd, peer);
    check(conn != nullptr);
    for (int turn = 0; turn < 8 && conn->phase == ConnPhase::Reading; ++turn) {
        ReadTurn read = connRead(*conn);
        if (read == ReadTurn::Complete)
            serverServeRequest(*conn);
        else if (read != ReadTurn::Waiting)
            break;
    }
    check(sock->workFd == 0 && sock->out == nullptr);
    size_t answered = 0;
    for (int turn = 0; turn < 64 && conn->phase == ConnPhase::Writing; ++turn) {
        (void)connWrite(*conn); // a piecewise answer stops where its refill would come
        drainAnswer(pair[1], answered);
    }
    drainAnswer(pair[1], answered);
    conns.closeAll();
    conns.sweep();
    close(pair[1]);
    return 0;
}
