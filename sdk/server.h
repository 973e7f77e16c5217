// The server: one record with the socket table, the handler table and the
// timer table, and the loop (serverLoop.cpp) that reads every socket
// without waiting on any peer, hands each complete message to the handler
// that takes it and runs the timed tasks.
#pragma once

#include "http.h"
#include "qnLimits.h"
#include "sock.h"

#include <cstdint>
#include <mutex>

// One protocol role of one entity.
struct MsgHandler {
    int32_t entity;
    SockInfo *sock;   // before registration: the wanted socket; after: the server's record
    int (*match)(MsgHandler *handler);   // 0 = this handler takes the message
    int (*handle)(MsgHandler *handler);  // 0 = done; nonzero = logged and closed
    HttpMsg *msg;
    void *priv;
    int32_t state;    // ES_STOPPED, ES_RUNNING, ES_PAUSED
    int32_t yields;   // nonzero: a later handler that also matches takes the message
    // The request methods the role takes on a TCP socket, one bit per
    // HttpMethod (methodBit); 0: any. A request with a method that no role
    // of its socket takes is answered 405 before any role sees it.
    uint32_t methods;
};

constexpr uint32_t methodBit(int method) { return 1u << method; }

enum ServerState : int32_t {
    SS_STOPPED = 0,
    SS_RUNNING = 1,
    SS_PAUSED = 2,
    SS_ENDED = 3,
};

using TimerTask = int (*)(MsgHandler *handler);

int regHandler(MsgHandler *handler);
int unregHandler(MsgHandler *handler);
// Applies a run command to a registered handler, or to the server when absent.
int setRunState(MsgHandler *handler, int command);
int serverState();

// Arms a one-shot task after `seconds`; returns the slot or -1 (table full).
// Every entity keeps at most one task armed (a device its advertisement, a
// control point its pending search), and the table has room for two per
// entity: a task that re-arms itself always finds its slot again.
int timerAdd(uint32_t seconds, TimerTask task, MsgHandler *handler);
// True when this task is armed for this handler.
bool timerArmed(const MsgHandler *handler, TimerTask task);
// Drops every armed task of a handler (a removed entity's timers).
void timerCancel(const MsgHandler *handler);
void timerEnable(bool enabled);

MsgHandler *findHandler(HttpMsg *msg);
// Runs until the server is stopped. QN_ERR_SOCK when a socket cannot be opened at start.
int serverLoop();
// Wakes the loop from its wait (work was queued for it, or the run state
// changed). Any thread.
void serverWake();
// Work the loop does on every pass, under the stack lock: pieces of a
// longer job, so that no single step holds the lock for long (the SSDP
// messages that waited for a control point's download, one at a time), and
// work due at finer times than the one-second timers allow (answers to
// searches spread over their MX, events held for a subscription in
// flight). A task returns true while more is left; the loop then does not
// wait before its next pass. Adding a task twice keeps it once; false when
// every place is taken.
using PassTask = bool (*)();
bool serverAddPassTask(PassTask task);

// The accepted connection whose request the loop is dispatching (0 when
// none): work that must wait until its answer has gone out names it. The
// connection then stays open after the answer until the peer has closed
// its side (at most kLingerWaitMs), so that the work follows the answer.
uint64_t servingConn();

// Serves the whole request an accepted connection holds (its read turn
// said Complete) as the loop does: the checks no role makes, the dispatch,
// the start of the answer. Under the loop's thread, or where no loop runs.
struct ServerConn;
void serverServeRequest(ServerConn &conn);

// The stack's one lock. The server thread holds it while it dispatches a
// message or runs a timer task; API calls take it. Recursive, because
// handlers call back into the API.
std::recursive_mutex &stackLock();

// Lets a server that has ended be started again (state stopped).
void serverRestart();

// Resets the server record to its initial state, closing every socket
// (qnSdkClean and tests).
void serverReset();
