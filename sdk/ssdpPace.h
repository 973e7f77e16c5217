// The answers of a process's devices to searches, paced (UDA 1.0, 1.2.3):
// every search that a device answers waits a random time within its MX,
// a searcher gets one answer set per target per second, and all answers
// together leave at no more than kSsdpAnswerRate datagrams a second, from
// one socket per local address that stays open while answers flow. A
// flood of searches, or one with a forged source, thus costs the network
// and the victim a bounded trickle, never a multiple of the flood.
//
// Everything here runs under stackLock().
#pragma once

#include "entity.h"

#include <netinet/in.h>

#include <cstdint>

// The longest wait a search may ask for; a larger MX is taken as this (UDA 1.1).
inline constexpr int kSsdpMaxMx = 5;
// Datagrams of search answers per second, all devices of the process together.
inline constexpr int kSsdpAnswerRate = 100;
// Searches waiting for their answers, and of them at most this many from
// one address (so that one flooding host leaves room for the others).
inline constexpr int kMaxPendingSearches = 128;
inline constexpr int kMaxPendingPerSearcher = 32;
// Searches remembered to answer a searcher once per target per second.
inline constexpr int kRecentSearches = 512;
// Sockets answers are sent from, one per local address of a device.
inline constexpr int kAnswerSockets = 4;

// The time base of this module: milliseconds of the steady clock.
int64_t paceNowMs();

// The wait a search allows, in milliseconds: its MX (1 to kSsdpMaxMx
// seconds; a missing, unreadable or zero MX counts as 1).
int searchWindowMs(const char *mx);

// True when a device may answer a search from `from` that came in on the
// interface ifIndex: its source port is 1900 or 1024 and above (port 0
// cannot be answered, and an answer to echo (7) or chargen (19) would
// bounce back and forth), and its address lies in a subnet of that
// interface (a forged source elsewhere must not turn the device into a
// reflector).
bool searchSourceAllowed(const sockaddr_in &from, int ifIndex);

// Queues the answers that the running devices on `listener` give to a
// search for st from `to`, each due at a random time within windowMs.
// False when nothing was queued: no device answers st, this searcher asked
// for st within the last second, or the queue has no room for it.
bool queueSearchAnswers(const SockInfo *listener, const sockaddr_in &to, const char *st, int windowMs,
                        int64_t nowMs);

// Sends the answers due at nowMs, as far as the rate allows; closes the
// answer sockets that have been idle for a while. Run by the server loop on
// every pass.
void sendDueAnswers(int64_t nowMs);

// Number of datagrams a device gives for st (0: it does not answer).
int countAnswers(const EntitySlot *device, const char *st);

// Where answers go instead of the network (tests, fuzzing, benchmarks);
// nullptr restores the network.
using AnswerSink = void (*)(const sockaddr_in &to, const char *text, uint32_t len);
void setAnswerSink(AnswerSink sink);

// Forgets every queued answer and recent search and closes the answer
// sockets (qnSdkClean).
void ssdpPaceReset();
