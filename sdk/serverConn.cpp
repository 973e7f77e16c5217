#include "serverConn.h"

#include "http.h"
#include "log.h"
#include "sock.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

// A connection's buffer starts small and grows with what arrives, so that a
// thousand idle connections cost little.
constexpr size_t kFirstInSize = 4096;
constexpr size_t kInRoom = kMsgBufSize - 1;
// Spare connections kept, and the largest buffers they keep.
constexpr size_t kMaxSpare = 32;
constexpr size_t kSpareBufferMax = 16 * 1024;

int msUntil(ConnClock::time_point now, ConnClock::time_point when)
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
    return ms < 0 ? 0 : static_cast<int>(ms);
}

// The head of a HEAD answer ends at its empty line; what the role writes
// after it is dropped.
void keepHeadOnly(ConnOutput *out, size_t from)
{
    size_t at = out->bytes.find("\r\n\r\n", from > 3 ? from - 3 : 0);
    if (at == std::string::npos)
        return;
    out->bytes.resize(at + 4);
    out->headDone = true;
}

} // namespace

int connOutputWrite(ConnOutput *out, const char *data, size_t len)
{
    if (out == nullptr || data == nullptr)
        return QN_ERR_ARG;
    if (out->overflow)
        return QN_ERR_SOCK;
    if (out->headOnly && out->headDone)
        return 0;
    if (connOutputPending(out) + len > kMaxQueuedAnswer) {
        out->overflow = true;
        debugPrint(LOG_SOCK, "Answer larger than the connection keeps\r\n", LOG_ERROR);
        return QN_ERR_SOCK;
    }
    // What was sent is dropped once it is most of the buffer: a long answer
    // fed by refills moves through it without growing it.
    if (out->sent > 0 && out->sent >= out->bytes.size() / 2) {
        out->bytes.erase(0, out->sent);
        out->sent = 0;
    }
    size_t before = out->bytes.size();
    out->bytes.append(data, len);
    if (out->headOnly)
        keepHeadOnly(out, before);
    return 0;
}

size_t connOutputPending(const ConnOutput *out)
{
    return out->bytes.size() - out->sent;
}

bool connOutputDiscards(const ConnOutput *out)
{
    return out->headOnly && out->headDone;
}

void connOutputRefill(ConnOutput *out, const ConnRefill &refill)
{
    if (out->refill.release != nullptr)
        out->refill.release(out->refill.state);
    out->refill = refill;
}

// ---- The table --------------------------------------------------------------------

size_t ConnTable::live() const
{
    return static_cast<size_t>(
        std::count_if(conns_.begin(), conns_.end(), [](const auto &c) { return c->phase != ConnPhase::Closed; }));
}

ServerConn *ConnTable::add(int fd, int slot, int listenFd, const sockaddr_in &peer)
{
    if (live() >= static_cast<size_t>(kMaxConnections))
        (void)evictOldestReading();
    std::unique_ptr<ServerConn> conn;
    if (!spare_.empty()) {
        conn = std::move(spare_.back());
        spare_.pop_back();
    } else {
        conn = std::make_unique<ServerConn>();
    }
    conn->id = nextId_++;
    conn->fd = fd;
    conn->slot = slot;
    conn->listenFd = listenFd;
    conn->peer = peer;
    conn->phase = ConnPhase::Reading;
    conn->used = 0;
    conn->out.bytes.clear();
    conn->out.sent = 0;
    conn->out.headOnly = conn->out.headDone = conn->out.overflow = conn->out.linger = false;
    conn->frame = RequestFrame{FrameState::Incomplete, 0, kHttpNpos, 0, false};
    conn->accepted = ConnClock::now();
    conn->deadline = conn->accepted + std::chrono::milliseconds(kFirstByteWaitMs);
    if (live() >= static_cast<size_t>(kMaxConnections)) {
        // Every connection is busy with an answer: this one is refused at
        // once, in a single send that never waits.
        connRefuse(*conn, 503);
        (void)send(fd, conn->out.bytes.data(), conn->out.bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        connClose(*conn);
        return nullptr;
    }
    conns_.push_back(std::move(conn));
    return conns_.back().get();
}

bool ConnTable::evictOldestReading()
{
    ServerConn *oldest = nullptr;
    for (auto &c : conns_)
        if (c->phase == ConnPhase::Reading && (oldest == nullptr || c->accepted < oldest->accepted))
            oldest = c.get();
    if (oldest == nullptr)
        return false;
    connClose(*oldest);
    return true;
}

bool ConnTable::alive(uint64_t id) const
{
    for (const auto &c : conns_)
        if (c->id == id && c->phase != ConnPhase::Closed)
            return true;
    return false;
}

void ConnTable::closeAll()
{
    for (auto &c : conns_)
        connClose(*c);
    conns_.clear();
}

void ConnTable::sweep()
{
    for (auto &c : conns_) {
        if (c->phase != ConnPhase::Closed || spare_.size() >= kMaxSpare)
            continue;
        if (c->in.capacity() > kSpareBufferMax)
            std::vector<char>().swap(c->in);
        if (c->out.bytes.capacity() > kSpareBufferMax)
            std::string().swap(c->out.bytes);
        spare_.push_back(std::move(c));
    }
    std::erase_if(conns_,
                  [](const std::unique_ptr<ServerConn> &c) { return c == nullptr || c->phase == ConnPhase::Closed; });
}

int ConnTable::msToNextDeadline(ConnClock::time_point now, int cap) const
{
    int wait = cap;
    for (const auto &c : conns_)
        if (c->phase != ConnPhase::Closed)
            wait = std::min(wait, msUntil(now, c->deadline));
    return wait;
}

// ---- One connection -------------------------------------------------------------

ReadTurn connRead(ServerConn &conn)
{
    if (conn.used == conn.in.size() && conn.in.size() < kInRoom)
        conn.in.resize(std::min(kInRoom, std::max(kFirstInSize, conn.in.size() * 2)));
    if (conn.used == conn.in.size()) {
        // Only reached for a request the framing already refused.
        connRefuse(conn, 400);
        return ReadTurn::Refused;
    }
    ssize_t n = recv(conn.fd, conn.in.data() + conn.used, conn.in.size() - conn.used, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return ReadTurn::Waiting;
    if (n < 0 || (n == 0 && conn.used == 0)) {
        // Reset, or closed without a word: nothing to answer.
        connClose(conn);
        return ReadTurn::Gone;
    }
    if (n == 0) {
        // The peer ended its side with the request incomplete.
        connRefuse(conn, 400);
        return ReadTurn::Refused;
    }
    if (conn.used == 0)
        conn.deadline = conn.accepted + std::chrono::milliseconds(kRequestWaitMs);
    conn.used += static_cast<size_t>(n);
    conn.frame = httpFrameRequest(std::string_view(conn.in.data(), conn.used), kInRoom);
    if (conn.frame.state == FrameState::Complete)
        return ReadTurn::Complete;
    if (conn.frame.state == FrameState::Bad) {
        connRefuse(conn, conn.frame.status);
        return ReadTurn::Refused;
    }
    return ReadTurn::Waiting;
}

void connRefuse(ServerConn &conn, int status, const char *allow)
{
    const char *reason = httpReason(status);
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + (reason != nullptr ? reason : "") +
                       "\r\nServer: " + kDefaultServerName + "\r\n";
    if (allow != nullptr)
        text += std::string("Allow: ") + allow + "\r\n";
    text += "Connection: close\r\nContent-Length: 0\r\n\r\n";
    conn.out.bytes = std::move(text);
    conn.out.sent = 0;
    conn.out.headOnly = false;
    connStartAnswer(conn);
}

void connStartAnswer(ServerConn &conn)
{
    conn.phase = ConnPhase::Writing;
    conn.deadline = ConnClock::now() + std::chrono::milliseconds(kAnswerWaitMs);
}

bool connWrite(ServerConn &conn)
{
    size_t pending = connOutputPending(&conn.out);
    if (pending > 0) {
        ssize_t n = send(conn.fd, conn.out.bytes.data() + conn.out.sent, pending, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return false;
        if (n <= 0) {
            // Reset mid-answer: the rest has nowhere to go.
            connClose(conn);
            return false;
        }
        conn.out.sent += static_cast<size_t>(n);
        pending -= static_cast<size_t>(n);
    }
    if (conn.out.refill.more != nullptr)
        return pending < kRefillBelow;
    if (pending > 0)
        return false;
    // Our side is done. With nothing left to read the connection closes at
    // once (the answer still goes out, then our end). A peer that still
    // sends is waited for until it closes its own side: closing on unread
    // bytes would reset the connection and could destroy the answer on its
    // way. So is a peer whose close something waits for (out.linger).
    char next;
    ssize_t n = recv(conn.fd, &next, 1, MSG_PEEK | MSG_DONTWAIT);
    if (!conn.out.linger && n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        connClose(conn);
        return false;
    }
    shutdown(conn.fd, SHUT_WR);
    conn.phase = ConnPhase::Lingering;
    conn.deadline = ConnClock::now() + std::chrono::milliseconds(kLingerWaitMs);
    return false;
}

void connLinger(ServerConn &conn)
{
    char drop[512];
    for (;;) {
        ssize_t n = recv(conn.fd, drop, sizeof drop, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        connClose(conn);
        return;
    }
}

void connExpire(ServerConn &conn, ConnClock::time_point now)
{
    if (conn.phase == ConnPhase::Closed || now < conn.deadline)
        return;
    if (conn.phase == ConnPhase::Reading && conn.used > 0) {
        debugPrint(LOG_SERVER, "Request not complete in time\r\n", LOG_NOTABLE);
        connRefuse(conn, 408);
        return;
    }
    // Silent from the start, an answer not taken in time, or a peer that
    // does not close after the answer.
    connClose(conn);
}

void connClose(ServerConn &conn)
{
    if (conn.out.refill.release != nullptr)
        conn.out.refill.release(conn.out.refill.state);
    conn.out.refill = ConnRefill{};
    if (conn.fd > 0)
        close(conn.fd);
    conn.fd = -1;
    conn.phase = ConnPhase::Closed;
}

std::string escapedPrefix(const char *data, size_t len, size_t max)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    size_t shown = std::min(len, max);
    for (size_t i = 0; i < shown; ++i) {
        auto c = static_cast<unsigned char>(data[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0x0f];
        }
    }
    if (len > max)
        out += "...";
    return out;
}
