#include "serverTables.h"

#include "log.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = ServerClock;

constinit QNServer server{};

constexpr auto kOpenRetry = std::chrono::seconds(1);

bool slotInUse(const SocketSlot &slot) { return server.socketUsed[&slot - server.sockets]; }

int findRegistered(const MsgHandler *handler)
{
    for (int i = 0; i < kMaxHandlers; ++i)
        if (server.handlers[i] == handler)
            return i;
    return -1;
}

// The slot of the same socket (kind and port), open or still to be opened:
// sockets open only when the server runs, and a port must never get two.
int findSharedSocket(const SockInfo *rec)
{
    for (int i = 0; i < kMaxSockets; ++i) {
        const SocketSlot &slot = server.sockets[i];
        if (slotInUse(slot) && sockSame(&slot.sock, rec) == 0)
            return i;
    }
    return -1;
}

int slotOf(const SockInfo *sock)
{
    for (int i = 0; i < kMaxSockets; ++i)
        if (&server.sockets[i].sock == sock)
            return i;
    return -1;
}

int takeSocketSlot(const SockInfo *rec)
{
    for (int i = 0; i < kMaxSockets; ++i) {
        SocketSlot &slot = server.sockets[i];
        if (slotInUse(slot))
            continue;
        slot = SocketSlot{};
        slot.sock = *rec;
        slot.sock.fd = 0;
        slot.sock.workFd = 0;
        slot.sock.out = nullptr;
        // A socketless record is never read; a socket's buffer is touched
        // only as far as its messages reach (a page per datagram, not the
        // whole 72 KiB), so an idle socket costs little memory.
        if (rec->kind != SP_NONE) {
            slot.sock.data = static_cast<char *>(std::malloc(kMsgBufSize));
            if (slot.sock.data == nullptr) {
                slot = SocketSlot{};
                return -1;
            }
            slot.sock.data[0] = '\0';
            slot.sock.len = kMsgBufSize;
        }
        server.socketUsed[i] = true;
        ++server.nSock;
        return i;
    }
    return -1;
}

void releaseSocketSlot(int index)
{
    SocketSlot &slot = server.sockets[index];
    if (slot.sock.fd != 0)
        sockClose(&slot.sock);
    std::free(slot.sock.data);
    slot = SocketSlot{};
    server.socketUsed[index] = false;
    --server.nSock;
}

} // namespace

QNServer &serverRecord()
{
    return server;
}

bool slotInUse(int index)
{
    return index >= 0 && index < kMaxSockets && server.socketUsed[index];
}

bool openSlot(SocketSlot &slot, Clock::time_point now)
{
    if (slot.sock.fd != 0 || slot.sock.kind == SP_NONE)
        return slot.sock.fd != 0;
    if (slot.openFailed && now < slot.retryAt)
        return false;
    int rc = 0;
    {
        ConsoleQuiet quiet(slot.openFailed); // its errors were reported once already
        rc = sockOpen(&slot.sock);
    }
    if (rc == 0) {
        slot.openFailed = false;
        return true;
    }
    if (!slot.openFailed)
        consolePrint(" sockOpen() error\r\n");
    slot.openFailed = true;
    slot.retryAt = now + kOpenRetry;
    return false;
}

void openAllSockets()
{
    auto now = Clock::now();
    for (SocketSlot &slot : server.sockets)
        if (slotInUse(slot))
            (void)openSlot(slot, now);
}

std::recursive_mutex &stackLock()
{
    static std::recursive_mutex lock;
    return lock;
}

int regHandler(MsgHandler *handler)
{
    if (handler == nullptr || handler->match == nullptr || handler->handle == nullptr)
        return QN_ERR_ARG;
    std::lock_guard guard(stackLock());
    int entry = findRegistered(nullptr);
    if (entry < 0)
        return QN_ERR_NOMEM;
    if (handler->sock != nullptr) {
        // Socketless records never share a slot.
        int index = handler->sock->kind == SP_NONE ? -1 : findSharedSocket(handler->sock);
        if (index < 0)
            index = takeSocketSlot(handler->sock);
        if (index < 0)
            return QN_ERR_NOMEM;
        SocketSlot &slot = server.sockets[index];
        ++slot.refs;
        handler->sock = &slot.sock;
        // Sockets open once the server runs (the loop opens the others when
        // it starts): a stack that is used only to read descriptions, or
        // whose entities never run, touches no network at all.
        if (slot.sock.fd == 0 && slot.sock.kind != SP_NONE && server.state == SS_RUNNING)
            (void)openSlot(slot, Clock::now()); // on failure the loop retries the open
    }
    server.handlers[entry] = handler;
    ++server.nHandlers;
    return 0;
}

int unregHandler(MsgHandler *handler)
{
    if (handler == nullptr || handler->sock == nullptr || handler->match == nullptr || handler->handle == nullptr)
        return QN_ERR_ARG;
    std::lock_guard guard(stackLock());
    int entry = findRegistered(handler);
    if (entry < 0)
        return -1;
    int index = slotOf(handler->sock);
    if (index >= 0 && slotInUse(server.sockets[index])) {
        SocketSlot &slot = server.sockets[index];
        if (slot.refs > 0)
            --slot.refs;
        if (slot.refs == 0)
            releaseSocketSlot(index);
    }
    timerCancel(handler);
    server.handlers[entry] = nullptr;
    --server.nHandlers;
    return 0;
}

int setRunState(MsgHandler *handler, int command)
{
    std::lock_guard guard(stackLock());
    if (handler == nullptr)
        serverWake(); // the loop notices a stop at once, not after its wait
    int32_t *state = &server.state;
    if (handler != nullptr) {
        if (findRegistered(handler) < 0) {
            consolePrint(" invalid args\r\n");
            return QN_ERR_ARG;
        }
        state = &handler->state;
    }
    switch (*state) {
    case ES_STOPPED:
        if (command == ES_RUNNING)
            *state = ES_RUNNING;
        if (command == ES_RUNNING && handler == nullptr)
            openAllSockets(); // the server is ready for clients once it is told to run
        return 0;
    case ES_RUNNING:
        if (command == ES_STOPPED || command == ES_PAUSED)
            *state = command;
        return 0;
    case ES_PAUSED:
        if (command == ES_STOPPED || command == ES_RUNNING)
            *state = command;
        return 0;
    default:
        return -1;
    }
}

int serverState()
{
    std::lock_guard guard(stackLock());
    return server.state;
}

// ---- Timers ------------------------------------------------------------------

int timerAdd(uint32_t seconds, TimerTask task, MsgHandler *handler)
{
    if (seconds == 0 || task == nullptr || handler == nullptr)
        return -1;
    std::lock_guard guard(stackLock());
    for (int i = 0; i < kMaxTimers; ++i) {
        if (server.timers[i].secondsLeft == 0) {
            server.timers[i] = TimerSlot{seconds, task, handler};
            return i;
        }
    }
    return -1;
}

bool timerArmed(const MsgHandler *handler, TimerTask task)
{
    std::lock_guard guard(stackLock());
    for (const TimerSlot &slot : server.timers)
        if (slot.secondsLeft != 0 && slot.handler == handler && slot.task == task)
            return true;
    return false;
}

void timerCancel(const MsgHandler *handler)
{
    std::lock_guard guard(stackLock());
    for (TimerSlot &slot : server.timers)
        if (slot.handler == handler)
            slot = TimerSlot{};
}

void timerEnable(bool enabled)
{
    std::lock_guard guard(stackLock());
    server.timersEnabled = enabled;
}

namespace {

int64_t nowSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

void timerTick()
{
    std::lock_guard guard(stackLock());
    if (!server.timersEnabled)
        return;
    int64_t now = nowSeconds();
    if (!server.ticked) {
        server.lastSecond = now;
        server.ticked = true;
    }
    int64_t elapsed = now - server.lastSecond;
    if (elapsed <= 0)
        return;
    server.lastSecond = now;
    for (TimerSlot &slot : server.timers) {
        if (slot.secondsLeft == 0)
            continue;
        if (slot.secondsLeft > elapsed) {
            slot.secondsLeft -= static_cast<uint32_t>(elapsed);
            continue;
        }
        TimerSlot due = slot;
        slot = TimerSlot{};
        if (findRegistered(due.handler) >= 0)
            due.task(due.handler);
    }
}

void serverReset()
{
    std::lock_guard guard(stackLock());
    // What the loop kept (connections, exchanges) ended with it.
    for (int i = 0; i < kMaxSockets; ++i)
        if (slotInUse(server.sockets[i]))
            releaseSocketSlot(i);
    server = QNServer{};
}

void serverRestart()
{
    std::lock_guard guard(stackLock());
    if (server.state == SS_ENDED)
        server.state = SS_STOPPED;
}
