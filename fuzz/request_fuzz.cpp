// Hostile HTTP requests through the dispatcher of a running stack: the
// device's control port (SOAP, GENA), its file service and a control
// point's event listener, with the input's first byte choosing the socket.
// The request is parsed in the socket's buffer as the loop leaves it, the
// dispatcher finds the role that takes it, the role answers through a
// socket pair, and the connection is always closed afterwards; whatever
// comes back is empty or one whole status line.
#include "fuzzStack.h"

#include <poll.h>
#include <sys/socket.h>

using namespace qnfuzz;

namespace {

// What the stack wrote back; the pair's end is closed afterwards.
void drainAnswer(int fd)
{
    static char answer[1 << 16];
    size_t total = 0;
    for (;;) {
        ssize_t n = recv(fd, answer + total % sizeof answer, sizeof answer - total % sizeof answer, MSG_DONTWAIT);
        if (n <= 0)
            break;
        if (total == 0)
            check(n >= 12 && std::strncmp(answer, "HTTP/1.", 7) == 0);
        total += static_cast<size_t>(n);
    }
    close(fd);
}

// The dispatch the loop performs: the role that takes the message handles
// it; a connection left open is closed.
void dispatch(HttpMsg *msg)
{
    SockInfo *sock = msg->sock;
    MsgHandler *chosen = findHandler(msg);
    if (chosen != nullptr) {
        chosen->msg = msg;
        (void)chosen->handle(chosen);
    }
    if (sock->workFd != 0)
        sockCloseWork(sock);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzStack &stack = fuzzStack();
    if (!stack.ready || size == 0)
        return 0;
    static int runs = 0;
    std::lock_guard guard(stackLock());
    // Subscriptions accumulate; the table starts empty now and then.
    if (++runs % 128 == 0)
        genaForgetDevice(stack.device);
    uint8_t pick = data[0] % 3;
    SockInfo *sock = pick == 0   ? stack.socketOf(stack.device, DR_SOAP)
                     : pick == 1 ? stack.socketOf(stack.device, DR_FILE)
                                 : stack.socketOf(stack.tracker, CR_EVENT);
    check(sock != nullptr && sock->data != nullptr && sock->workFd == 0);
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return 0;
    // The peer has said all it will: a role that waits for it to close
    // (a new subscriber) learns so at once.
    shutdown(pair[1], SHUT_WR);
    int room = 1 << 20; // a whole answer fits: the stack writes it before we read
    setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sock->workFd = pair[0];
    sock->peer = sockaddr_in{};
    sock->peer.sin_family = AF_INET;
    sock->peer.sin_port = htons(45000);
    sock->peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    static HttpMsg msg;
    static QNTextDoc doc;
    if (readInto(sock, data + 1, size - 1, &msg, &doc))
        dispatch(&msg);
    else
        sockCloseWork(sock);
    check(sock->workFd == 0);
    drainAnswer(pair[1]);
    return 0;
}
