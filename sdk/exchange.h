// Outgoing HTTP exchanges that the server loop runs without waiting on the
// peer: event deliveries and description downloads. An exchange is started
// under the stack lock, from any thread; the loop connects, sends the
// request, reads the answer within the exchange's deadline and hands the
// result, under the stack lock, to the function given at the start.
#pragma once

#include "sock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

struct pollfd;

struct ExchangePlan {
    uint32_t addr;                 // network byte order
    uint16_t port;                 // network byte order
    char localAddr[kAddrTextLen];  // the connection leaves from it when usable
    int connectWaitMs;
    int totalWaitMs;               // the whole exchange, connect included
    uint32_t answerMax;            // the largest answer taken, in bytes
    bool headEnough;               // the answer's head is all that is wanted
    uint64_t afterConn;            // start once this accepted connection has closed; 0: at once
};

struct ExchangeResult {
    bool connected;  // the peer accepted the connection
    bool complete;   // the request went out and the answer came whole (or its head, with headEnough)
    char *data;      // the answer, len bytes and a terminator; the callee may change it
    uint32_t len;
};

// Called once for every exchange started, on the loop thread with the
// stack lock held, also when the exchange could not start or the loop ends.
using ExchangeDone = std::function<void(ExchangeResult &result)>;

// Queues an exchange and wakes the loop. Call with the stack lock held.
void exchangeStart(const ExchangePlan &plan, std::string request, ExchangeDone done);

// ---- The loop's side (server.cpp) ----------------------------------------------------

// Starts queued exchanges while fewer than kMaxExchanges run; one gated on
// an accepted connection waits while connAlive(id) says it is open.
void exchangesAdmit(const std::function<bool(uint64_t)> &connAlive);
// The running exchanges' descriptors and the events they wait for; returns
// how many were added at fds.
size_t exchangesPollSet(pollfd *fds, size_t room);
// One turn of the exchange whose descriptor fds[k] was, after poll.
void exchangeTurn(const pollfd &ready);
// Ends exchanges whose deadline passed.
void exchangesExpire(std::chrono::steady_clock::time_point now);
// Milliseconds until the nearest deadline (at most cap).
int exchangesMsToDeadline(std::chrono::steady_clock::time_point now, int cap);
// Calls done for every ended exchange. Call with the stack lock held.
void exchangesFinish();
// True when an exchange is queued or running (the loop thread only).
bool exchangesBusy();
// Ends every exchange, queued or running, as failed (the loop is ending).
// Call with the stack lock held.
void exchangesAbandon();
