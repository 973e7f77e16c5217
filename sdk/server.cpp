#include "server.h"

#include "log.h"

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct TimerSlot {
    uint32_t secondsLeft; // 0 = free
    TimerTask task;
    MsgHandler *handler;
};

struct SocketSlot {
    SockInfo sock;
    uint16_t refs;
    // A socket that cannot be opened (port in use) is passed over until this
    // time and its error is printed once, not on every pass.
    Clock::time_point retryAt;
    bool openFailed;
};

struct QNServer {
    // Which slots are in use, apart from the slots themselves: the loop
    // scans these flags on every pass, and a process with few sockets
    // then keeps the rest of the table in pages it never touches.
    bool socketUsed[kMaxSockets];
    SocketSlot sockets[kMaxSockets];
    uint16_t nSock;
    MsgHandler *handlers[kMaxHandlers];
    uint16_t nHandlers;
    HttpMsg msg;
    QNTextDoc doc;
    int32_t state;
    TimerSlot timers[kMaxTimers];
    bool timersEnabled;
    int64_t lastSecond;
    bool ticked;
    int cursor; // socket slot that gave the last message: polled first
};

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

// Opens a slot's socket unless it failed recently. True when it is open.
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

} // namespace

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

// ---- Timers ----------------------------------------------------------------

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

} // namespace

// ---- Reading and dispatch -----------------------------------------------------

namespace {

// A socket slot with input, and the descriptor that had it.
struct Ready {
    int slot = -1;
    int fd = 0;
};

// Waits for input on every open socket of the table at once, at most
// kPollWaitMs. Returns the slot to read: the first ready slot at or after
// the cursor in table order (so a busy socket is drained first), else the
// first ready slot; slot -1 when nothing is ready.
Ready waitForInput()
{
    pollfd fds[kMaxSockets];
    int slotOfFd[kMaxSockets];
    int n = 0;
    {
        std::lock_guard guard(stackLock());
        auto now = Clock::now();
        for (int i = 0; i < kMaxSockets; ++i) {
            SocketSlot &slot = server.sockets[i];
            if (!slotInUse(slot) || slot.sock.kind == SP_NONE || !openSlot(slot, now))
                continue;
            fds[n] = pollfd{slot.sock.fd, POLLIN, 0};
            slotOfFd[n++] = i;
        }
    }
    if (n == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollWaitMs));
        return {};
    }
    if (poll(fds, static_cast<nfds_t>(n), kPollWaitMs) <= 0)
        return {};
    Ready first;
    for (int k = 0; k < n; ++k) {
        if ((fds[k].revents & (POLLIN | POLLERR | POLLHUP)) == 0)
            continue;
        if (slotOfFd[k] >= server.cursor)
            return {slotOfFd[k], fds[k].fd};
        if (first.slot < 0)
            first = {slotOfFd[k], fds[k].fd};
    }
    return first;
}

// Reads and parses one message from a slot. Called with the lock held.
HttpMsg *readSlot(Ready ready)
{
    int index = ready.slot;
    SocketSlot &slot = server.sockets[index];
    if (!slotInUse(slot) || slot.sock.fd == 0 || slot.sock.fd != ready.fd)
        return nullptr; // removed or replaced while we were waiting
    server.cursor = index;
    SockInfo *sock = &slot.sock;
    if (sock->kind == SP_TCP_SERVER) {
        // Poll said readable: a connection is waiting; never block in accept.
        if (sock->workFd == 0 && sockAccept(sock) != 0)
            return nullptr;
    }
    sock->len = kMsgBufSize - 1;
    if (sockRead(sock) != 0)
        return nullptr;
    server.msg = HttpMsg{};
    server.doc = kHttpDocTemplate;
    docInitRead(&server.doc, sock->data);
    server.doc.size = kMsgBufSize;
    server.doc.user = &server.msg;
    server.msg.sock = sock;
    if (httpParse(&server.doc, &server.msg) != 0) {
        if (sock->kind == SP_TCP_SERVER)
            sockCloseWork(sock);
        return nullptr;
    }
    server.msg.sock = sock;
    return &server.msg;
}

// Is the connection of this socket still open after the step? A role that
// took a request must answer and close it; one left open would block the
// listening socket, so the loop closes it.
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
        consolePrint(" 2: %s", sock->data ? sock->data : "NULL");
        sockCloseWork(sock);
        return;
    }
    chosen->msg = msg;
    if (chosen->handle(chosen) != 0) {
        consolePrint(" 1: %s", sock->data ? sock->data : "NULL");
        sockCloseWork(sock);
        return;
    }
    closeLeftover(sock);
}

} // namespace

HttpMsg *readNextMsg()
{
    Ready ready = waitForInput();
    if (ready.slot < 0)
        return nullptr;
    std::lock_guard guard(stackLock());
    return readSlot(ready);
}

MsgHandler *findHandler(HttpMsg *msg)
{
    if (msg == nullptr)
        return nullptr;
    std::lock_guard guard(stackLock());
    MsgHandler *chosen = nullptr;
    for (MsgHandler *h : server.handlers) {
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

namespace {

// Kept apart from the server record: a reset of the server leaves them.
StepTask stepTasks[kMaxStepTasks];

void runStepTasks()
{
    std::lock_guard guard(stackLock());
    for (StepTask task : stepTasks)
        if (task != nullptr)
            task();
}

} // namespace

bool serverAddStepTask(StepTask task)
{
    std::lock_guard guard(stackLock());
    for (StepTask &slot : stepTasks) {
        if (slot == task)
            return true;
        if (slot == nullptr) {
            slot = task;
            return true;
        }
    }
    return false;
}

void serverStep()
{
    if (serverState() == SS_RUNNING) {
        Ready ready = waitForInput();
        if (ready.slot >= 0) {
            std::lock_guard guard(stackLock());
            HttpMsg *msg = readSlot(ready);
            if (msg != nullptr && server.state != SS_STOPPED)
                dispatch(msg);
            else if (msg != nullptr)
                closeLeftover(msg->sock);
        }
    } else {
        // Paused: nothing is read, but timers run; do not spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(kPausedWaitMs));
    }
    timerTick();
    runStepTasks();
}

int serverLoop()
{
    {
        std::lock_guard guard(stackLock());
        openAllSockets();
    }
    timerTick();
    while (serverState() != SS_STOPPED)
        serverStep();
    std::lock_guard guard(stackLock());
    server.state = SS_ENDED;
    debugPrint(LOG_SERVER, "\r\n======Server stoped=======\r\n", LOG_NOTABLE);
    return 0;
}

void serverReset()
{
    std::lock_guard guard(stackLock());
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
