// Sockets as the stack uses them: one record per socket whose kind decides
// how it is opened, read and written. Server sockets live in the server's
// table; protocol code also drives short-lived records of its own.
#pragma once

#include "qnLimits.h"

#include <netinet/in.h>

#include <cstdint>

struct ConnOutput;

enum SockKind : int32_t {
    SP_NONE = -1,         // no socket: the record only carries a buffer
    SP_UDP = 0,           // unicast datagram sender
    SP_TCP_CLIENT = 1,    // connection to addr:port
    SP_TCP_SERVER = 2,    // listener on port; workFd is the accepted connection
    SP_MCAST_CLIENT = 3,  // multicast sender on ifaceAddr
    SP_MCAST_SERVER = 4,  // multicast listener on port, group addr
};

inline constexpr int kSockKindCount = 5;
inline constexpr int kAddrTextLen = 16;

// A socket record. fd and workFd are 0 while not open (descriptor 0 is never
// kept: a socket that gets it is moved to another number).
struct SockInfo {
    int32_t kind;
    int fd;
    int workFd;
    char addr[kAddrTextLen];       // peer, multicast group, or configured address
    char ifaceAddr[kAddrTextLen];  // local interface of multicast kinds; local address of clients
    uint16_t port;
    char *data;                    // message buffer
    uint32_t len;                  // room before a read, bytes after; bytes to send
    sockaddr_in peer;              // source of the last datagram or connection
    int32_t recvTimeout;           // SP_TCP_CLIENT: microseconds per piece, 0 = 300000
    uint16_t localPort;            // port the socket is bound to (own datagrams)
    int32_t ifIndex;               // SP_MCAST_SERVER: interface the last datagram came in on, 0 unknown
    uint16_t listenPort;           // SP_TCP_SERVER while open: the port it listens on (the system's choice for 0)
    // SP_TCP_SERVER while the server loop dispatches a request: the answer
    // written to workFd is kept here and sent by the loop, and workFd
    // belongs to the loop (closing the work only ends the answer).
    ConnOutput *out;
};

int sockInit(SockInfo *rec, const char *addr, const char *ifaceAddr, uint16_t port, int kind,
             int32_t recvTimeout);
int sockOpen(SockInfo *rec);
// Waits up to waitMs for input (accepting for SP_TCP_SERVER). 0 = a read may follow.
int sockPoll(SockInfo *rec, int waitMs = kPollWaitMs);
// Reads one whole message into data (room in len); sets len and terminates.
int sockRead(SockInfo *rec);
int sockWrite(SockInfo *rec);
// Sends len bytes from data (not the record's buffer) on a TCP record, as
// sockWrite does; an answer being kept (out) is added to.
int sockSend(SockInfo *rec, const char *data, size_t len);
// Accepts one connection of an SP_TCP_SERVER into workFd, its source in peer.
int sockAccept(SockInfo *rec);
int sockCloseWork(SockInfo *rec);
int sockClose(SockInfo *rec);
// 0 when a and b denote the same socket: equal kind and port.
int sockSame(const SockInfo *a, const SockInfo *b);

// Sends one datagram of len bytes from an open datagram socket to addr:port
// without touching the record (its buffer may hold a message being served).
int sockSendTo(const SockInfo *rec, const char *data, uint32_t len, const char *addr, uint16_t port);

// True when the datagram just read came from one of the stack's own sockets.
bool sockIsOwnDatagram(const SockInfo *rec);

// Descriptor-level helpers shared with the outgoing connections:
// sockAvoidZero moves a descriptor 0 elsewhere (0 means "not open" in a
// record; a program started without standard input can be handed it) and
// returns the descriptor to keep, or -1; sockBoundSends limits every send
// to kSendWaitMs; sockConnectWithin connects to peer and gives up after
// waitMs (an unreachable or black-holed peer must not hold the calling
// thread), returning 0 or the errno value.
int sockAvoidZero(int fd);
void sockBoundSends(int fd);
int sockConnectWithin(int fd, const sockaddr_in &peer, int waitMs);
