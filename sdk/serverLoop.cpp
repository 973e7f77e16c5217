// The server loop. One thread serves every socket of the process, and it
// never waits on a peer while others wait on it:
//
// - Every socket is non-blocking. The loop waits in one poll() over the
//   listening and datagram sockets of the table, its accepted connections,
//   its outgoing exchanges and a wake-up descriptor, for at most kPollWaitMs
//   or until the nearest deadline.
// - An accepted connection has a state of its own (serverConn.h): its bytes
//   are read as they come, and only a complete request, framed by its head
//   and its Content-Length or chunking, is dispatched. Deadlines bound its
//   first byte, its whole request, the whole answer and the close after it.
// - Dispatch takes the stack lock, puts the request into the socket slot's
//   buffer and runs the roles as they always ran; what they answer is kept
//   by the connection (sock->out) and sent by the loop once the lock is
//   released. Console lines said meanwhile are written after the lock too.
// - Event deliveries and description downloads are outgoing exchanges
//   (exchange.h): started under the lock, run by the loop like the
//   connections, and finished under the lock.
// - So the lock is held for dispatch, timer tasks and the completion of
//   exchanges, never while a peer is awaited: an API call on another thread
//   waits for it no longer than one such step.
// - Ready sockets are served round-robin: each gets one turn per pass (one
//   read or write, a batch of accepts or datagrams), and each pass starts one
//   further along, so that a flooding socket cannot starve the others.
// - accept() failing for lack of descriptors rests that listener for
//   kAcceptBackoffMs and closes the connection that has waited longest for
//   its request, instead of spinning on a listener that stays readable.
#include "serverTables.h"

#include "exchange.h"
#include "httpFrame.h"
#include "log.h"
#include "serverConn.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = ServerClock;

std::mutex wakeLock;
int wakeFd = -1;
// The connection being dispatched, on the loop's thread (others see none).
thread_local ServerConn *servingNow = nullptr;
constexpr int kMaxPassTasks = 4;
PassTask passTasks[kMaxPassTasks]; // under the stack lock

enum class ItemKind { Wake, Listener, Datagram, Conn, Exchange };

// What one entry of the poll set stands for.
struct Item {
    ItemKind kind;
    int slot;          // Listener, Datagram
    ServerConn *conn;  // Conn
};

// The loop's own state, on the heap: the server thread's stack may be small.
struct Loop {
    ConnTable conns;
    std::vector<pollfd> fds;
    std::vector<Item> items;
    std::vector<size_t> ready;
    size_t turn = 0;
    bool moreWork = false; // a pass task has more to do: do not wait
    std::vector<ServerConn *> fresh; // accepted in the current turn
    Clock::time_point restUntil[kMaxSockets]{};
};

void openWake()
{
    std::lock_guard guard(wakeLock);
    if (wakeFd < 0)
        wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

void closeWake()
{
    std::lock_guard guard(wakeLock);
    if (wakeFd >= 0)
        close(wakeFd);
    wakeFd = -1;
}

void drainWake(int fd)
{
    uint64_t count = 0;
    while (read(fd, &count, sizeof count) > 0) {
    }
}

// A line about a request that failed or was refused: a short escaped start
// of it, never the whole buffer (it may hold anything a peer sent).
void logRequest(const char *prefix, const char *data, size_t len)
{
    std::string shown = data != nullptr ? escapedPrefix(data, len, kRequestShownMax) : "NULL";
    consolePrint("%s%s\r\n", prefix, shown.c_str());
}

// ---- Reading and dispatch -------------------------------------------------------

// Parses the message in a slot's buffer into the server's record.
HttpMsg *parseSlotMessage(SockInfo *sock)
{
    QNServer &rec = serverRecord();
    rec.msg = HttpMsg{};
    rec.doc = kHttpDocTemplate;
    docInitRead(&rec.doc, sock->data);
    rec.doc.size = kMsgBufSize;
    rec.doc.user = &rec.msg;
    rec.msg.sock = sock;
    if (httpParse(&rec.doc, &rec.msg) != 0)
        return nullptr;
    rec.msg.sock = sock;
    return &rec.msg;
}

// A role that took a request must answer and end it; one left open is
// ended here (the connection closes without an answer).
void closeLeftover(SockInfo *sock)
{
    if (sock != nullptr && sock->kind == SP_TCP_SERVER && sock->workFd != 0)
        sockCloseWork(sock);
}

void dispatch(HttpMsg *msg)
{
    SockInfo *sock = msg->sock;
    MsgHandler *chosen = findHandler(msg);
    if (chosen == nullptr) {
        if (sock->kind == SP_TCP_SERVER)
            sockCloseWork(sock);
        return;
    }
    if (chosen->handle == nullptr || chosen->sock == nullptr || chosen->sock->data == nullptr) {
        logRequest(" 2: ", sock->data, sock->len);
        sockCloseWork(sock);
        return;
    }
    chosen->msg = msg;
    if (chosen->handle(chosen) != 0) {
        logRequest(" 1: ", sock->data, sock->len);
        sockCloseWork(sock);
        return;
    }
    closeLeftover(sock);
}

// The methods the roles of a TCP socket take (0: any).
uint32_t methodsOn(const SockInfo *sock)
{
    uint32_t methods = 0;
    for (const MsgHandler *h : serverRecord().handlers) {
        if (h == nullptr || h->sock != sock)
            continue;
        if (h->methods == 0)
            return 0;
        methods |= h->methods;
    }
    return methods;
}

std::string allowText(uint32_t methods)
{
    std::string text;
    for (int m = HM_GET; m < HM_RESPONSE; ++m) {
        if ((methods & methodBit(m)) == 0)
            continue;
        text += text.empty() ? "" : ", ";
        text += httpMethodName(m);
        if (m == HM_GET && (methods & methodBit(HM_HEAD)) == 0)
            text += ", HEAD";
    }
    return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalNoCase(text.substr(0, prefix.size()), prefix);
}

// Puts a complete request into the slot's buffer and checks what no role
// decides: a method of the table, a head that parses, a method that a
// role of this socket takes. Returns the message, or nullptr with a
// refusal queued on the connection.
HttpMsg *takeRequest(ServerConn &conn, SockInfo *sock)
{
    size_t length = conn.frame.length;
    std::memcpy(sock->data, conn.in.data(), length);
    sock->data[length] = '\0';
    auto len = static_cast<uint32_t>(length);
    if (conn.frame.chunked)
        httpUnchunkMessage(sock->data, &len);
    sock->len = len;
    sock->peer = conn.peer;
    std::string_view text(sock->data, len);
    size_t start = text.find_first_not_of("\r\n");
    text = start == std::string_view::npos ? std::string_view() : text.substr(start);
    std::string_view word = text.substr(0, text.find_first_of(" \t\r\n"));
    int method = httpMethodOf(word);
    HttpMsg *msg = method >= 0 ? parseSlotMessage(sock) : nullptr;
    if (msg == nullptr) {
        // Not a method at all, or a head the parser refused (a target or a
        // value longer than its field, a malformed line).
        bool unknownMethod = method < 0 && !word.empty() && !startsWithNoCase(word, "HTTP/");
        logRequest(unknownMethod ? " refused, no such method: " : " refused, bad request: ", sock->data, len);
        connRefuse(conn, unknownMethod ? 501 : 400);
        return nullptr;
    }
    // HEAD is served as GET without the body (RFC 2616, 9.4).
    if (msg->method == HM_HEAD) {
        msg->method = HM_GET;
        conn.out.headOnly = true;
    }
    uint32_t allowed = methodsOn(sock);
    if (allowed != 0 && (allowed & methodBit(msg->method)) == 0) {
        connRefuse(conn, 405, allowText(allowed).c_str());
        return nullptr;
    }
    return msg;
}

void serveRequest(ServerConn &conn)
{
    ConsoleDeferral kept;
    std::lock_guard guard(stackLock());
    QNServer &rec = serverRecord();
    SockInfo *sock = slotInUse(conn.slot) ? &rec.sockets[conn.slot].sock : nullptr;
    if (sock == nullptr || sock->fd != conn.listenFd || sock->kind != SP_TCP_SERVER || rec.state != SS_RUNNING) {
        connClose(conn); // the socket went away meanwhile
        return;
    }
    HttpMsg *msg = takeRequest(conn, sock);
    if (msg == nullptr)
        return;
    sock->workFd = conn.fd;
    sock->out = &conn.out;
    servingNow = &conn;
    dispatch(msg);
    servingNow = nullptr;
    // The application may have removed the socket's last role: the slot is
    // then cleared (or another socket's) and must not be touched.
    if (slotInUse(conn.slot) && rec.sockets[conn.slot].sock.out == &conn.out) {
        rec.sockets[conn.slot].sock.out = nullptr;
        rec.sockets[conn.slot].sock.workFd = 0;
    }
    connStartAnswer(conn);
}

// Asks the role that produces the answer piece by piece for more.
void refill(ServerConn &conn)
{
    ConsoleDeferral kept;
    std::lock_guard guard(stackLock());
    QNServer &rec = serverRecord();
    SockInfo *sock = slotInUse(conn.slot) ? &rec.sockets[conn.slot].sock : nullptr;
    if (sock == nullptr || sock->fd != conn.listenFd || sock->data == nullptr) {
        connClose(conn); // its role is gone: the answer cannot be finished
        return;
    }
    sock->workFd = conn.fd;
    sock->out = &conn.out;
    servingNow = &conn;
    bool more = conn.out.refill.more(conn.out.refill.state, sock);
    servingNow = nullptr;
    if (slotInUse(conn.slot) && rec.sockets[conn.slot].sock.out == &conn.out) {
        rec.sockets[conn.slot].sock.out = nullptr;
        rec.sockets[conn.slot].sock.workFd = 0;
    }
    if (!more)
        connOutputRefill(&conn.out, ConnRefill{});
}

void connTurn(ServerConn &conn)
{
    switch (conn.phase) {
    case ConnPhase::Reading: {
        ReadTurn turn = connRead(conn);
        if (turn == ReadTurn::Complete)
            serveRequest(conn);
        else if (turn == ReadTurn::Refused) {
            ConsoleDeferral kept; // a flood of bad requests stays within the console's budget
            logRequest(" refused, bad request: ", conn.in.data(), conn.used);
        }
        if (conn.phase == ConnPhase::Writing && connWrite(conn))
            refill(conn);
        break;
    }
    case ConnPhase::Writing:
        if (connWrite(conn))
            refill(conn);
        break;
    case ConnPhase::Lingering:
        connLinger(conn);
        break;
    case ConnPhase::Closed:
        break;
    }
}

bool outOfDescriptors(int err)
{
    return err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM;
}

// Accepts what waits on a listener; the new connections are returned in
// fresh (their requests have often arrived with them).
void acceptBatch(Loop &loop, int slot, int fd, std::vector<ServerConn *> &fresh)
{
    std::lock_guard guard(stackLock());
    QNServer &rec = serverRecord();
    if (!slotInUse(slot) || rec.sockets[slot].sock.fd != fd || rec.state != SS_RUNNING)
        return; // removed or replaced while the loop waited
    for (int k = 0; k < kAcceptBatch; ++k) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        int conn = accept4(fd, reinterpret_cast<sockaddr *>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (conn < 0 && (errno == EINTR || errno == ECONNABORTED))
            continue;
        if (conn < 0 && outOfDescriptors(errno)) {
            // The listener stays readable: without a rest the loop would spin.
            loop.restUntil[slot] = Clock::now() + std::chrono::milliseconds(kAcceptBackoffMs);
            (void)loop.conns.evictOldestReading();
            debugPrint(LOG_SERVER, "accept() out of descriptors\r\n", LOG_ERROR);
            return;
        }
        if (conn < 0)
            return;
        conn = sockAvoidZero(conn);
        ServerConn *added = conn > 0 ? loop.conns.add(conn, slot, fd, peer) : nullptr;
        if (added != nullptr)
            fresh.push_back(added);
    }
}

void readDatagrams(int slot, int fd)
{
    for (int k = 0; k < kDatagramBatch; ++k) {
        if (k > 0) {
            pollfd more{fd, POLLIN, 0};
            if (poll(&more, 1, 0) <= 0)
                return;
        }
        ConsoleDeferral kept;
        std::lock_guard guard(stackLock());
        QNServer &rec = serverRecord();
        if (!slotInUse(slot) || rec.sockets[slot].sock.fd != fd || rec.state != SS_RUNNING)
            return;
        SockInfo *sock = &rec.sockets[slot].sock;
        sock->len = kMsgBufSize - 1;
        if (sockRead(sock) != 0)
            continue;
        HttpMsg *msg = parseSlotMessage(sock);
        if (msg != nullptr)
            dispatch(msg);
    }
}

// ---- One pass ----------------------------------------------------------------------

void addFd(Loop &loop, int fd, short events, Item item)
{
    loop.fds.push_back(pollfd{fd, events, 0});
    loop.items.push_back(item);
}

// The poll set; returns how long the wait may be.
int buildPollSet(Loop &loop, bool running)
{
    loop.fds.clear();
    loop.items.clear();
    auto now = Clock::now();
    int wait = kPollWaitMs;
    {
        std::lock_guard guard(wakeLock);
        if (wakeFd >= 0)
            addFd(loop, wakeFd, POLLIN, {ItemKind::Wake, -1, nullptr});
    }
    if (running) {
        std::lock_guard guard(stackLock());
        QNServer &rec = serverRecord();
        for (int i = 0; i < kMaxSockets; ++i) {
            SocketSlot &slot = rec.sockets[i];
            if (!slotInUse(i) || slot.sock.kind == SP_NONE || !openSlot(slot, now))
                continue;
            bool listener = slot.sock.kind == SP_TCP_SERVER;
            if (listener && now < loop.restUntil[i]) {
                auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(loop.restUntil[i] - now).count();
                wait = std::min<int>(wait, static_cast<int>(rest) + 1);
                continue;
            }
            addFd(loop, slot.sock.fd, POLLIN, {listener ? ItemKind::Listener : ItemKind::Datagram, i, nullptr});
        }
    }
    for (size_t i = 0; i < loop.conns.size(); ++i) {
        ServerConn *conn = loop.conns.at(i);
        if (conn->phase == ConnPhase::Writing)
            addFd(loop, conn->fd, POLLOUT, {ItemKind::Conn, -1, conn});
        else if (conn->phase == ConnPhase::Lingering || (conn->phase == ConnPhase::Reading && running))
            addFd(loop, conn->fd, POLLIN, {ItemKind::Conn, -1, conn});
    }
    size_t before = loop.fds.size();
    loop.fds.resize(before + kMaxExchanges);
    size_t added = exchangesPollSet(loop.fds.data() + before, kMaxExchanges);
    loop.fds.resize(before + added);
    loop.items.resize(loop.fds.size(), Item{ItemKind::Exchange, -1, nullptr});
    wait = loop.conns.msToNextDeadline(now, wait);
    return loop.moreWork ? 0 : exchangesMsToDeadline(now, wait);
}

void serveItem(Loop &loop, const Item &item, const pollfd &p)
{
    switch (item.kind) {
    case ItemKind::Wake: drainWake(p.fd); break;
    case ItemKind::Listener: {
        std::vector<ServerConn *> &fresh = loop.fresh;
        fresh.clear();
        acceptBatch(loop, item.slot, p.fd, fresh);
        // A first read at once saves a pass of the loop for each request.
        for (ServerConn *conn : fresh)
            connTurn(*conn);
        break;
    }
    case ItemKind::Datagram: readDatagrams(item.slot, p.fd); break;
    case ItemKind::Conn: connTurn(*item.conn); break;
    case ItemKind::Exchange: exchangeTurn(p); break;
    }
}

void pass(Loop &loop)
{
    bool running = serverState() == SS_RUNNING;
    int wait = buildPollSet(loop, running);
    if (loop.fds.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    } else if (poll(loop.fds.data(), static_cast<nfds_t>(loop.fds.size()), wait) < 0 && errno != EINTR) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPausedWaitMs));
    }
    loop.ready.clear();
    for (size_t k = 0; k < loop.fds.size(); ++k)
        if (loop.fds[k].revents != 0)
            loop.ready.push_back(k);
    // Round-robin: each ready socket gets one turn, the first one further
    // along each pass.
    size_t n = loop.ready.size();
    size_t first = n > 0 ? loop.turn++ % n : 0;
    for (size_t j = 0; j < n; ++j) {
        size_t k = loop.ready[(first + j) % n];
        serveItem(loop, loop.items[k], loop.fds[k]);
    }
    auto now = Clock::now();
    for (size_t i = 0; i < loop.conns.size(); ++i)
        connExpire(*loop.conns.at(i), now);
    exchangesExpire(now);
    {
        ConsoleDeferral kept;
        std::lock_guard guard(stackLock());
        exchangesFinish();
        exchangesAdmit([&loop](uint64_t id) { return loop.conns.alive(id); });
    }
    loop.moreWork = false;
    for (PassTask task : passTasks) {
        if (task == nullptr)
            continue;
        ConsoleDeferral kept;
        std::lock_guard guard(stackLock());
        loop.moreWork = task() || loop.moreWork;
    }
    loop.conns.sweep();
    ConsoleDeferral kept;
    timerTick();
}

} // namespace

MsgHandler *findHandler(HttpMsg *msg)
{
    if (msg == nullptr)
        return nullptr;
    std::lock_guard guard(stackLock());
    MsgHandler *chosen = nullptr;
    for (MsgHandler *h : serverRecord().handlers) {
        if (h == nullptr || h->state != ES_RUNNING || h->sock != msg->sock)
            continue;
        h->msg = msg;
        if (h->match(h) != 0) {
            h->msg = nullptr;
            continue;
        }
        if (chosen == nullptr || chosen->yields) {
            if (chosen != nullptr)
                chosen->msg = nullptr;
            chosen = h;
        } else {
            h->msg = nullptr;
        }
    }
    return chosen;
}

void serverWake()
{
    std::lock_guard guard(wakeLock);
    if (wakeFd < 0)
        return;
    uint64_t one = 1;
    (void)!write(wakeFd, &one, sizeof one);
}

bool serverAddPassTask(PassTask task)
{
    std::lock_guard guard(stackLock());
    for (PassTask &slot : passTasks) {
        if (slot == task)
            return true;
        if (slot == nullptr) {
            slot = task;
            serverWake();
            return true;
        }
    }
    return false;
}

void serverServeRequest(ServerConn &conn)
{
    serveRequest(conn);
}

uint64_t servingConn()
{
    // Whoever asks waits for the connection's end: it must not close
    // before the peer has read the answer and closed its side.
    if (servingNow == nullptr)
        return 0;
    servingNow->out.linger = true;
    return servingNow->id;
}

int serverLoop()
{
    {
        std::lock_guard guard(stackLock());
        openAllSockets();
    }
    openWake();
    {
        ConsoleDeferral kept;
        timerTick();
    }
    auto loop = std::make_unique<Loop>();
    loop->fds.reserve(1 + kMaxSockets + kMaxConnections + kMaxExchanges);
    while (serverState() != SS_STOPPED)
        pass(*loop);
    loop->conns.closeAll();
    {
        ConsoleDeferral kept;
        std::lock_guard guard(stackLock());
        exchangesAbandon();
    }
    closeWake();
    std::lock_guard guard(stackLock());
    serverRecord().state = SS_ENDED;
    debugPrint(LOG_SERVER, "\r\n======Server stoped=======\r\n", LOG_NOTABLE);
    return 0;
}
