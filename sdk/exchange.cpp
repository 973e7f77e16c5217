#include "exchange.h"

#include "httpFrame.h"
#include "log.h"
#include "server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Phase { Connecting, Sending, Reading, Ended };

struct Exchange {
    ExchangePlan plan;
    std::string request;
    ExchangeDone done;
    int fd = -1;
    Phase phase = Phase::Connecting;
    size_t sent = 0;
    std::vector<char> answer;
    size_t used = 0;
    bool connected = false;
    bool complete = false;
    Clock::time_point connectBy;
    Clock::time_point endBy;
};

// Queued by any thread under the stack lock; taken by the loop. The loop
// never takes the stack lock while it holds this one.
std::mutex queuedLock;
std::deque<std::unique_ptr<Exchange>> queued;
// Running and ended, owned by the loop thread.
std::vector<std::unique_ptr<Exchange>> running;

void end(Exchange &x, bool complete)
{
    if (x.fd > 0)
        close(x.fd);
    x.fd = -1;
    x.complete = complete;
    x.phase = Phase::Ended;
}

void bindLocal(int fd, const char *localAddr)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    if (inet_pton(AF_INET, localAddr, &local.sin_addr) != 1 || local.sin_addr.s_addr == htonl(INADDR_ANY))
        return;
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
        debugPrint(LOG_SOCK, "Client - local address not bound\r\n", LOG_NOTABLE);
}

void begin(Exchange &x)
{
    auto now = Clock::now();
    x.connectBy = now + std::chrono::milliseconds(x.plan.connectWaitMs);
    x.endBy = now + std::chrono::milliseconds(x.plan.totalWaitMs);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0)
        fd = sockAvoidZero(fd);
    if (fd < 0) {
        consolePrint(" socket() error: 0x%x\r\n", errno);
        end(x, false);
        return;
    }
    x.fd = fd;
    bindLocal(fd, x.plan.localAddr);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = x.plan.addr;
    peer.sin_port = x.plan.port;
    if (connect(fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer) == 0) {
        x.connected = true;
        x.phase = Phase::Sending;
    } else if (errno != EINPROGRESS) {
        end(x, false);
    }
}

// True once the answer is what was asked for; peerClosed: nothing more comes.
bool answerTaken(Exchange &x, bool peerClosed)
{
    std::string_view raw(x.answer.data(), x.used);
    if (x.plan.headEnough && httpHeadersEnd(raw) != kHttpNpos)
        return true;
    AnswerState state = httpAnswerState(raw);
    return state == AnswerState::Complete || (state == AnswerState::UntilClose && peerClosed);
}

void readTurn(Exchange &x)
{
    if (x.answer.size() < static_cast<size_t>(x.plan.answerMax) + 1)
        x.answer.resize(static_cast<size_t>(x.plan.answerMax) + 1);
    size_t room = x.plan.answerMax - x.used;
    if (room == 0) {
        end(x, false); // larger than anything the caller takes
        return;
    }
    ssize_t n = recv(x.fd, x.answer.data() + x.used, room, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        end(x, n == 0 && answerTaken(x, true));
        return;
    }
    x.used += static_cast<size_t>(n);
    if (answerTaken(x, false))
        end(x, true);
}

void sendTurn(Exchange &x)
{
    while (x.sent < x.request.size()) {
        ssize_t n = send(x.fd, x.request.data() + x.sent, x.request.size() - x.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (n <= 0) {
            end(x, false);
            return;
        }
        x.sent += static_cast<size_t>(n);
    }
    if (x.plan.answerMax == 0)
        end(x, true);
    else
        x.phase = Phase::Reading;
}

void connectTurn(Exchange &x)
{
    int err = 0;
    socklen_t size = sizeof err;
    if (getsockopt(x.fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0 || err != 0) {
        end(x, false);
        return;
    }
    x.connected = true;
    x.phase = Phase::Sending;
    sendTurn(x);
}

} // namespace

void exchangeStart(const ExchangePlan &plan, std::string request, ExchangeDone done)
{
    auto x = std::make_unique<Exchange>();
    x->plan = plan;
    x->request = std::move(request);
    x->done = std::move(done);
    {
        std::lock_guard guard(queuedLock);
        queued.push_back(std::move(x));
    }
    serverWake();
}

void exchangesAdmit(const std::function<bool(uint64_t)> &connAlive)
{
    std::lock_guard guard(queuedLock);
    size_t live = static_cast<size_t>(std::count_if(running.begin(), running.end(),
                                                    [](const auto &x) { return x->phase != Phase::Ended; }));
    for (auto it = queued.begin(); it != queued.end() && live < static_cast<size_t>(kMaxExchanges);) {
        if ((*it)->plan.afterConn != 0 && connAlive((*it)->plan.afterConn)) {
            ++it;
            continue;
        }
        running.push_back(std::move(*it));
        it = queued.erase(it);
        begin(*running.back());
        ++live;
    }
}

size_t exchangesPollSet(pollfd *fds, size_t room)
{
    size_t n = 0;
    for (const auto &x : running) {
        if (x->phase == Phase::Ended || n == room)
            continue;
        short events = x->phase == Phase::Reading ? POLLIN : POLLOUT;
        fds[n++] = pollfd{x->fd, events, 0};
    }
    return n;
}

void exchangeTurn(const pollfd &ready)
{
    if (ready.revents == 0)
        return;
    for (auto &x : running) {
        if (x->fd != ready.fd || x->phase == Phase::Ended)
            continue;
        switch (x->phase) {
        case Phase::Connecting: connectTurn(*x); break;
        case Phase::Sending: sendTurn(*x); break;
        case Phase::Reading: readTurn(*x); break;
        case Phase::Ended: break;
        }
        return;
    }
}

void exchangesExpire(Clock::time_point now)
{
    for (auto &x : running) {
        if (x->phase == Phase::Ended)
            continue;
        if (x->phase == Phase::Connecting && now >= x->connectBy) {
            end(*x, false);
        } else if (now >= x->endBy) {
            // An answer without framing is taken as far as it came, as when
            // the peer closes; anything else is cut short.
            bool taken = x->phase == Phase::Reading &&
                         httpAnswerState(std::string_view(x->answer.data(), x->used)) == AnswerState::UntilClose;
            end(*x, taken || (x->plan.headEnough && x->phase == Phase::Reading && answerTaken(*x, false)));
        }
    }
}

int exchangesMsToDeadline(Clock::time_point now, int cap)
{
    int wait = cap;
    for (const auto &x : running) {
        if (x->phase == Phase::Ended)
            return 0;
        auto by = x->phase == Phase::Connecting ? std::min(x->connectBy, x->endBy) : x->endBy;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(by - now).count();
        wait = std::min<int>(wait, ms < 0 ? 0 : static_cast<int>(ms));
    }
    return wait;
}

void exchangesFinish()
{
    // The ended ones leave the table first: a callback may start further
    // exchanges, which are queued and admitted on the next round.
    std::vector<std::unique_ptr<Exchange>> ended;
    for (auto &x : running)
        if (x->phase == Phase::Ended)
            ended.push_back(std::move(x));
    std::erase_if(running, [](const auto &x) { return x == nullptr; });
    for (auto &x : ended) {
        x->answer.resize(x->used + 1);
        x->answer[x->used] = '\0';
        ExchangeResult result{x->connected, x->complete, x->answer.data(), static_cast<uint32_t>(x->used)};
        if (x->done)
            x->done(result);
    }
}

bool exchangesBusy()
{
    std::lock_guard guard(queuedLock);
    return !queued.empty() || !running.empty();
}

void exchangesAbandon()
{
    for (auto &x : running)
        if (x->phase != Phase::Ended)
            end(*x, false);
    {
        std::lock_guard guard(queuedLock);
        for (auto &x : queued) {
            x->phase = Phase::Ended;
            running.push_back(std::move(x));
        }
        queued.clear();
    }
    // Callbacks may queue further exchanges (a download's next document):
    // those end as failed too, for a few rounds; what a callback still
    // queues after that is dropped.
    for (int round = 0; round < 4 && exchangesBusy(); ++round) {
        exchangesFinish();
        std::lock_guard guard(queuedLock);
        for (auto &x : queued) {
            x->phase = Phase::Ended;
            running.push_back(std::move(x));
        }
        queued.clear();
    }
    running.clear();
    std::lock_guard guard(queuedLock);
    queued.clear();
}
