// The server record shared by the table code (server.cpp) and the loop
// (serverLoop.cpp). Everything here is touched under stackLock().
#pragma once

#include "server.h"

#include <chrono>

using ServerClock = std::chrono::steady_clock;

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
    ServerClock::time_point retryAt;
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
};

QNServer &serverRecord();
bool slotInUse(int index);
// Opens a slot's socket unless it failed recently. True when it is open.
bool openSlot(SocketSlot &slot, ServerClock::time_point now);
void openAllSockets();
// Runs the timer tasks that are due.
void timerTick();
