// Accepted connections of the server loop. Each has its own buffer, phase
// and deadlines and is read and written without waiting: a peer that is
// slow, silent or gone costs its own connection and nothing else.
//
// The table and every connection belong to the loop thread. The roles
// reach a connection only through the answer it keeps (ConnOutput), while
// the loop dispatches a request under the stack lock: sockWrite adds to it
// and sockCloseWork ends it (sock.h).
#pragma once

#include "httpFrame.h"
#include "qnLimits.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SockInfo;
using ConnClock = std::chrono::steady_clock;

// An answer produced piece by piece (a file the application delivers in
// chunks). more() is called by the loop under the stack lock whenever less
// than kRefillBelow bytes wait to be sent, with sock set up as during the
// dispatch; it writes the next pieces and returns true while more is to
// come. release() frees the state when the answer ends, however it ends.
struct ConnRefill {
    bool (*more)(void *state, SockInfo *sock);
    void (*release)(void *state);
    void *state;
};

// What the roles write while they answer a request.
struct ConnOutput {
    std::string bytes;      // the answer; bytes before `sent` are gone
    size_t sent = 0;
    bool headOnly = false;  // a HEAD request: only the head is sent
    bool headDone = false;  // headOnly: the head's empty line was seen
    bool overflow = false;  // more was written than an answer may hold
    bool linger = false;    // after the answer, wait for the peer to close (something waits for that)
    ConnRefill refill{};
};

// Adds an answer's bytes: 0, or QN_ERR_SOCK once the answer would exceed
// kMaxQueuedAnswer (the role sees a failed send and stops).
int connOutputWrite(ConnOutput *out, const char *data, size_t len);
// Bytes written and not yet sent.
size_t connOutputPending(const ConnOutput *out);
// True when what is written now is dropped (the head of a HEAD answer is
// complete): a role may stop producing the body.
bool connOutputDiscards(const ConnOutput *out);
// Hands the rest of the answer to a refill (see ConnRefill); replaces any
// earlier one. The output takes ownership of state.
void connOutputRefill(ConnOutput *out, const ConnRefill &refill);

enum class ConnPhase {
    Reading,   // waiting for the whole request
    Writing,   // sending the answer
    Lingering, // answer sent and our side shut: waiting for the peer to close
    Closed,
};

struct ServerConn {
    uint64_t id;          // never reused in the life of the process
    int fd;
    int slot;             // socket slot of the listener it came through
    int listenFd;         // that listener's descriptor, to know it still is
    sockaddr_in peer;
    ConnPhase phase;
    std::vector<char> in; // what arrived, `used` bytes of it
    size_t used;
    RequestFrame frame;   // Reading: the verdict on what arrived
    ConnClock::time_point accepted;
    ConnClock::time_point deadline; // of the current phase
    ConnOutput out;
};

// The result of one read turn of a connection.
enum class ReadTurn {
    Waiting,  // nothing complete yet
    Complete, // frame holds a whole request
    Refused,  // a refusal is queued (400, 408, 413)
    Gone,     // the peer closed or reset: the connection is closed
};

class ConnTable {
public:
    ConnTable() = default;
    ~ConnTable() { closeAll(); }
    ConnTable(const ConnTable &) = delete;
    ConnTable &operator=(const ConnTable &) = delete;

    // Takes an accepted descriptor. When the table is full the connection
    // that has waited longest for its request is closed for it; when none
    // waits, the new one is refused (503) and closed, and nullptr returned.
    ServerConn *add(int fd, int slot, int listenFd, const sockaddr_in &peer);
    // Closes the connection that has waited longest for its request (a
    // descriptor is needed); false when none waits. Closed connections stay
    // in the table, so that the loop's references stay valid, until sweep.
    bool evictOldestReading();
    bool alive(uint64_t id) const;
    void closeAll();
    // Drops the closed connections.
    void sweep();
    size_t size() const { return conns_.size(); }
    // Connections not closed.
    size_t live() const;
    ServerConn *at(size_t i) { return conns_[i].get(); }

    // Milliseconds until the nearest deadline (at most cap).
    int msToNextDeadline(ConnClock::time_point now, int cap) const;

private:
    std::vector<std::unique_ptr<ServerConn>> conns_;
    // Closed connections kept for reuse with their buffers: a connection
    // per request would otherwise grow and shrink the heap each time.
    std::vector<std::unique_ptr<ServerConn>> spare_;
    uint64_t nextId_ = 1;
};

// Reads what is there (one turn) and judges the request.
ReadTurn connRead(ServerConn &conn);
// Queues a refusal with the status line, Server, Connection "close",
// Content-Length 0 and, for 405, Allow with allow; the connection closes
// after it.
void connRefuse(ServerConn &conn, int status, const char *allow = nullptr);
// Starts sending the answer the roles wrote (phase Writing).
void connStartAnswer(ServerConn &conn);
// Sends what it can (one turn). True when the answer waits for a refill.
bool connWrite(ServerConn &conn);
// Reads and drops what the peer still sends until it closes (one turn).
void connLinger(ServerConn &conn);
// Applies the phase's deadline: a request that did not come whole gets
// 408, an answer not taken in time is abandoned, a lingering peer is left.
void connExpire(ServerConn &conn, ConnClock::time_point now);
void connClose(ServerConn &conn);

// Text for a log line: the first `max` characters of a request with
// control characters and non-ASCII bytes escaped (\r, \n, \xHH).
std::string escapedPrefix(const char *data, size_t len, size_t max);
