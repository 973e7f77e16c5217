#include "ssdpPace.h"

#include "ifaceTable.h"
#include "log.h"
#include "query.h"
#include "ssdp.h"
#include "text.h"

#include <arpa/inet.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>

namespace {

// A search whose answers wait for their time.
struct PendingSearch {
    bool used;
    const SockInfo *listener; // the SSDP listener it came in on: its devices answer
    sockaddr_in to;
    int64_t dueMs;
    uint32_t sent;            // datagrams of the answer set already sent
    char st[QN_VAL_MAX_LEN];
};

// A search that was answered: the same searcher gets no second answer set
// for the same target within kRepeatMs.
struct RecentSearch {
    bool used;
    uint32_t addr;
    uint16_t port;
    uint32_t target; // hash of the St text
    int64_t atMs;
};

struct AnswerSocket {
    SockInfo sock;
    int64_t lastUseMs;
};

constexpr int64_t kRepeatMs = 1000;
constexpr int64_t kRateWindowMs = 1000;
// Answers that could not leave this long after their time are dropped:
// the searcher stopped listening long ago.
constexpr int64_t kStaleMs = 5000;
// An answer socket unused this long is closed.
constexpr int64_t kSocketIdleMs = 30000;
// The loop looks at the queue on every pass, at least every kPollWaitMs:
// answers are placed that much before the end of the searcher's wait.
constexpr int kLoopSlackMs = kPollWaitMs;

struct Pace {
    PendingSearch pending[kMaxPendingSearches];
    RecentSearch recent[kRecentSearches];
    // Send times of the last kSsdpAnswerRate datagrams, oldest at `oldest`.
    int64_t sentAt[kSsdpAnswerRate];
    bool sentAtUsed[kSsdpAnswerRate];
    int oldest;
    AnswerSocket sockets[kAnswerSockets];
    uint64_t random;
    AnswerSink sink;
};

Pace pace;
bool passTaskAdded = false;

uint32_t nextRandom()
{
    if (pace.random == 0 && getrandom(&pace.random, sizeof pace.random, GRND_NONBLOCK) != sizeof pace.random)
        pace.random = static_cast<uint64_t>(paceNowMs()) * 0x9E3779B97F4A7C15ull;
    if (pace.random == 0)
        pace.random = 1;
    // xorshift64: spreading answers needs no better randomness than this.
    pace.random ^= pace.random << 13;
    pace.random ^= pace.random >> 7;
    pace.random ^= pace.random << 17;
    return static_cast<uint32_t>(pace.random >> 32);
}

uint32_t hashOf(const char *text)
{
    uint32_t h = 2166136261u;
    for (const char *c = text; *c != '\0'; ++c)
        h = (h ^ static_cast<unsigned char>(*c)) * 16777619u;
    return h;
}

const char *field(const QNDevDesc *dev, const char *name)
{
    return findNameVal(dev->fields, dev->fieldCount, name);
}

// ---- The datagrams of one device's answer --------------------------------------------

// ssdp:all: one answer per target of an announcement pass, as UDA 1.0
// (1.2.3) requires.
template <typename Fn>
int forEachTreeTarget(const QNDevDesc *dev, bool root, Fn &fn)
{
    int n = 0;
    if (forEachDeviceTarget(dev, root ? SL_ROOT : SL_EMBEDDED, [&](int, const char *target, const char *usn) {
            fn(target, usn);
            ++n;
        }) != 0)
        return n;
    for (int i = 0; i < dev->deviceCount; ++i)
        n += forEachTreeTarget(dev->devices[i], false, fn);
    return n;
}

// Calls fn(target, usn) for each datagram a device answers st with;
// returns their number.
template <typename Fn>
int forEachAnswer(const EntitySlot *slot, const char *st, Fn fn)
{
    if (slot->desc == nullptr)
        return 0;
    QNDevDesc *root = &slot->desc->device;
    const char *rootUdn = field(root, "UDN");
    const char *rootType = field(root, "deviceType");
    if (rootUdn == nullptr || rootType == nullptr)
        return 0;
    if (std::strcmp(st, "ssdp:all") == 0)
        return forEachTreeTarget(root, true, fn);
    char usn[QN_VAL_MAX_LEN];
    if (std::strcmp(st, "upnp:rootdevice") == 0) {
        strBuild(usn, sizeof usn, "s", rootUdn, "s", "::upnp:rootdevice", "");
        fn(st, usn);
        return 1;
    }
    bool byUdn = std::strncmp(st, "uuid:", 5) == 0;
    bool deviceTarget = byUdn || std::strncmp(st, "urn:schemas-upnp-org:device:", 28) == 0;
    bool serviceTarget = std::strncmp(st, "urn:schemas-upnp-org:service:", 29) == 0;
    if (!deviceTarget && !serviceTarget)
        return 0;
    if (std::strcmp(st, rootType) == 0) {
        strBuild(usn, sizeof usn, "s", rootUdn, "s", "::", "s", rootType, "");
        fn(st, usn);
        return 1;
    }
    if (deviceTarget) {
        auto *dev = static_cast<QNDevDesc *>(findInDevice(root, st, byUdn ? "UDN" : "deviceType", FM_DEVICE));
        if (dev == nullptr)
            return 0;
        if (byUdn)
            strBuild(usn, sizeof usn, "s", st, "");
        else
            strBuild(usn, sizeof usn, "s", field(dev, "UDN"), "s", "::", "s", st, "");
        fn(st, usn);
        return 1;
    }
    auto *holder = static_cast<QNDevDesc *>(findInDevice(root, st, "serviceType", FM_SERVICE_OWNER));
    if (holder == nullptr)
        return 0;
    strBuild(usn, sizeof usn, "s", field(holder, "UDN"), "s", "::", "s", st, "");
    fn(st, usn);
    return 1;
}

// The devices that answer searches on a listener: running, alive, with a model.
template <typename Fn>
void forEachAnsweringDevice(const SockInfo *listener, Fn fn)
{
    for (QN_ENTITY e = 0; e < QN_MAX_ENTITY; ++e) {
        EntitySlot *slot = entityAt(e);
        if (slot == nullptr || slot->kind != EK_DEVICE || slot->universal || !slot->registered[DR_SSDP] ||
            !slot->announceAlive || slot->desc == nullptr)
            continue;
        const MsgHandler &ssdp = slot->handlers[DR_SSDP];
        if (ssdp.sock == listener && ssdp.state == ES_RUNNING && !fn(slot))
            return;
    }
}

// ---- Sending ---------------------------------------------------------------------------

bool rateAllows(int64_t now)
{
    return !pace.sentAtUsed[pace.oldest] || now - pace.sentAt[pace.oldest] >= kRateWindowMs;
}

void noteSent(int64_t now)
{
    pace.sentAt[pace.oldest] = now;
    pace.sentAtUsed[pace.oldest] = true;
    pace.oldest = (pace.oldest + 1) % kSsdpAnswerRate;
}

void closeSocket(AnswerSocket &s)
{
    if (s.sock.fd != 0)
        sockClose(&s.sock);
    s = AnswerSocket{};
}

// The socket that answers leave from for a device's address: kept open
// while answers flow, the least recently used one given up for a new address.
SockInfo *answerSocket(const char *localAddr, int64_t now)
{
    AnswerSocket *chosen = nullptr;
    for (AnswerSocket &s : pace.sockets) {
        if (s.sock.fd != 0 && std::strcmp(s.sock.ifaceAddr, localAddr) == 0) {
            s.lastUseMs = now;
            return &s.sock;
        }
        if (chosen == nullptr || (chosen->sock.fd != 0 && (s.sock.fd == 0 || s.lastUseMs < chosen->lastUseMs)))
            chosen = &s;
    }
    closeSocket(*chosen);
    sockInit(&chosen->sock, "", localAddr, 0, SP_UDP, 0);
    if (sockOpen(&chosen->sock) != 0) {
        consolePrint(" sockOpen() error\r\n");
        debugPrint(LOG_SSDP, "Sending - sock open error", LOG_DETAIL);
        chosen->sock = SockInfo{};
        return nullptr;
    }
    // Nothing is read from it: whatever a peer sends there must not pile up.
    int smallest = 1;
    (void)setsockopt(chosen->sock.fd, SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
    chosen->lastUseMs = now;
    return &chosen->sock;
}

void sendOne(const EntitySlot *slot, const sockaddr_in &to, const char *target, const char *usn, int64_t now)
{
    char text[kSsdpMsgMax];
    int len = ssdpWrite(text, sizeof text, SK_RESPONSE, slot->descUrl, target, usn);
    if (len <= 0)
        return;
    if (pace.sink != nullptr) {
        pace.sink(to, text, static_cast<uint32_t>(len));
        return;
    }
    SockInfo *sock = answerSocket(slot->dev.ipAddr, now);
    if (sock == nullptr)
        return;
    char addr[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &to.sin_addr, addr, sizeof addr);
    debugPrintf(LOG_SSDP, LOG_DETAIL, "Sending ssdp:\r\n%s", text);
    (void)sockSendTo(sock, text, static_cast<uint32_t>(len), addr, ntohs(to.sin_port));
    debugPrint(LOG_SSDP, "Dev sending search response", LOG_DETAIL);
}

// Sends what is left of one search's answers; true when all of them went
// out, false when the rate stopped it.
bool sendAnswers(PendingSearch &p, int64_t now)
{
    uint32_t index = 0;
    bool stopped = false;
    forEachAnsweringDevice(p.listener, [&](const EntitySlot *slot) {
        forEachAnswer(slot, p.st, [&](const char *target, const char *usn) {
            if (stopped || index++ < p.sent)
                return;
            if (!rateAllows(now)) {
                stopped = true;
                return;
            }
            noteSent(now);
            ++p.sent;
            sendOne(slot, p.to, target, usn, now);
        });
        return !stopped;
    });
    return !stopped;
}

PendingSearch *earliestDue(int64_t now)
{
    PendingSearch *first = nullptr;
    for (PendingSearch &p : pace.pending)
        if (p.used && p.dueMs <= now && (first == nullptr || p.dueMs < first->dueMs))
            first = &p;
    return first;
}

void closeIdleSockets(int64_t now)
{
    for (AnswerSocket &s : pace.sockets)
        if (s.sock.fd != 0 && now - s.lastUseMs >= kSocketIdleMs)
            closeSocket(s);
}

// ---- Admission -----------------------------------------------------------------------

bool sameSearcher(const RecentSearch &r, const sockaddr_in &from, uint32_t target)
{
    return r.addr == from.sin_addr.s_addr && r.port == from.sin_port && r.target == target;
}

bool askedRecently(const sockaddr_in &from, uint32_t target, int64_t now)
{
    for (const RecentSearch &r : pace.recent)
        if (r.used && now - r.atMs < kRepeatMs && sameSearcher(r, from, target))
            return true;
    return false;
}

void rememberSearch(const sockaddr_in &from, uint32_t target, int64_t now)
{
    RecentSearch *slot = nullptr;
    for (RecentSearch &r : pace.recent) {
        if (!r.used || now - r.atMs >= kRepeatMs) {
            slot = &r;
            break;
        }
    }
    // The queue admits fewer searches a second than this table holds; a
    // full table only means that every entry is fresh, and the oldest goes.
    if (slot == nullptr) {
        slot = &pace.recent[0];
        for (RecentSearch &r : pace.recent)
            if (r.atMs < slot->atMs)
                slot = &r;
    }
    *slot = RecentSearch{true, from.sin_addr.s_addr, from.sin_port, target, now};
}

int pendingFrom(uint32_t addr)
{
    int n = 0;
    for (const PendingSearch &p : pace.pending)
        n += p.used && p.to.sin_addr.s_addr == addr;
    return n;
}

// Answers fall due between passes; the loop's longest wait is fine enough.
bool paceStep()
{
    sendDueAnswers(paceNowMs());
    return false;
}

} // namespace

int64_t paceNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int searchWindowMs(const char *mx)
{
    int seconds = 0;
    for (const char *c = mx != nullptr ? mx : ""; *c >= '0' && *c <= '9' && seconds <= kSsdpMaxMx; ++c)
        seconds = seconds * 10 + (*c - '0');
    if (seconds > kSsdpMaxMx)
        seconds = kSsdpMaxMx;
    return (seconds < 1 ? 1 : seconds) * 1000;
}

bool searchSourceAllowed(const sockaddr_in &from, int ifIndex)
{
    uint16_t port = ntohs(from.sin_port);
    if (port < 1024 && port != kSsdpPort)
        return false;
    return ifaceHoldsPeer(ifIndex, from.sin_addr.s_addr);
}

int countAnswers(const EntitySlot *device, const char *st)
{
    return device != nullptr && st != nullptr ? forEachAnswer(device, st, [](const char *, const char *) {}) : 0;
}

bool queueSearchAnswers(const SockInfo *listener, const sockaddr_in &to, const char *st, int windowMs, int64_t nowMs)
{
    if (listener == nullptr || st == nullptr)
        return false;
    uint32_t target = hashOf(st);
    if (askedRecently(to, target, nowMs))
        return false;
    int answers = 0;
    forEachAnsweringDevice(listener, [&](const EntitySlot *slot) {
        answers += countAnswers(slot, st);
        return answers == 0;
    });
    if (answers == 0 || pendingFrom(to.sin_addr.s_addr) >= kMaxPendingPerSearcher)
        return false;
    PendingSearch *free = nullptr;
    for (PendingSearch &p : pace.pending)
        if (!p.used && free == nullptr)
            free = &p;
    if (free == nullptr)
        return false;
    int spread = windowMs > 2 * kLoopSlackMs ? windowMs - kLoopSlackMs : windowMs;
    *free = PendingSearch{true, listener, to, nowMs + static_cast<int64_t>(nextRandom() % static_cast<uint32_t>(spread)),
                          0, {}};
    copyBounded(free->st, sizeof free->st, st);
    rememberSearch(to, target, nowMs);
    if (!passTaskAdded)
        passTaskAdded = serverAddPassTask(paceStep);
    return true;
}

void sendDueAnswers(int64_t nowMs)
{
    closeIdleSockets(nowMs);
    while (PendingSearch *p = earliestDue(nowMs)) {
        if (nowMs - p->dueMs > kStaleMs) {
            p->used = false;
            continue;
        }
        if (!sendAnswers(*p, nowMs))
            return;
        p->used = false;
    }
}

void setAnswerSink(AnswerSink sink)
{
    pace.sink = sink;
}

void ssdpPaceReset()
{
    // Field by field: the record is too large for a temporary on a small
    // thread stack.
    for (AnswerSocket &s : pace.sockets)
        closeSocket(s);
    for (PendingSearch &p : pace.pending)
        p.used = false;
    for (RecentSearch &r : pace.recent)
        r.used = false;
    for (bool &used : pace.sentAtUsed)
        used = false;
    pace.oldest = 0;
}
