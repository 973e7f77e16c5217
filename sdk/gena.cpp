// GENA eventing, device side: the subscription table and the handling of
// SUBSCRIBE (new or renewal) and UNSUBSCRIBE on a device's control server.
// genaSubscribeRequest is the role's match and does the whole work.
#include "gena.h"

#include "devRequest.h"
#include "log.h"
#include "roles.h"
#include "text.h"

#include <arpa/inet.h>
#include <sys/random.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

Subscription table[kMaxSubscriptions];
uint32_t nextId = 1; // process-wide, wraps from its maximum back to 1

uint32_t takeId()
{
    uint32_t id = nextId;
    nextId = nextId == UINT32_MAX ? 1 : nextId + 1;
    return id;
}

constexpr std::string_view kSecondPrefix = "Second-";

// The granted time-out in seconds: what was asked, within
// kMinSubscriptionSeconds and kMaxSubscriptionSeconds. A missing or
// malformed request gets the minimum, "infinite" the maximum.
uint32_t grantedSeconds(const char *value)
{
    uint32_t seconds = kMinSubscriptionSeconds;
    std::string_view text(value != nullptr ? value : "");
    if (value == nullptr || !text.starts_with(kSecondPrefix)) {
        consolePrint(" NULL Timeout\r\n");
    } else if (text.substr(kSecondPrefix.size()) == "infinite") {
        seconds = kMaxSubscriptionSeconds;
    } else if (text.size() > kSecondPrefix.size()) {
        long asked = std::strtol(value + kSecondPrefix.size(), nullptr, 10);
        if (asked > kMinSubscriptionSeconds)
            seconds = asked >= kMaxSubscriptionSeconds ? kMaxSubscriptionSeconds : static_cast<uint32_t>(asked);
    }
    consolePrint(" timeOut = %d\r\n", static_cast<int>(seconds));
    return seconds;
}

uint32_t expiryAfter(uint32_t seconds)
{
    uint64_t at = static_cast<uint64_t>(genaNow()) + seconds;
    return at >= kNeverExpires ? kNeverExpires - 1 : static_cast<uint32_t>(at);
}

int answerStatus(MsgHandler *handler, int status)
{
    return httpSendResponse(handler, status, nullptr, 0, nullptr, 0);
}

// 200 with Date, Sid, Timeout (the time granted) and Server.
void subscribedHeaders(const EntitySlot *slot, const char *sid, uint32_t seconds, HttpHeader (&headers)[4])
{
    headers[0].index = HH_DATE;
    httpDate(headers[0].value, sizeof headers[0].value);
    headers[1].index = HH_SID;
    copyBounded(headers[1].value, sizeof headers[1].value, sid);
    headers[2].index = HH_TIMEOUT;
    strBuild(headers[2].value, sizeof headers[2].value, "s", "Second-", "u", seconds, "");
    headers[3].index = HH_SERVER;
    copyBounded(headers[3].value, sizeof headers[3].value, entityServerName(slot));
}

int answerRenewed(MsgHandler *handler, const EntitySlot *slot, const char *sid, uint32_t seconds)
{
    HttpHeader headers[4]{};
    subscribedHeaders(slot, sid, seconds, headers);
    return httpSendResponse(handler, 200, headers, 3, nullptr, 0); // the writer adds Server
}

// Answers a new subscription. A control point that receives the initial
// event before it knows the SID may drop it (GUPnP does): the event must
// not overtake the answer, so it waits until this connection has ended
// (notifySubscriber). The answer has no length, so the subscriber reads
// until our end closes and then closes its own.
int answerSubscribed(MsgHandler *handler, const EntitySlot *slot, const char *sid, uint32_t seconds)
{
    HttpMsg *msg = handler->msg;
    SockInfo *sock = msg->sock;
    HttpHeader headers[4]{};
    subscribedHeaders(slot, sid, seconds, headers);
    msg->method = HM_RESPONSE;
    msg->major = msg->minor = 1;
    msg->status = 200;
    msg->uri[0] = msg->reason[0] = '\0';
    msg->body = nullptr;
    msg->count = 4;
    std::memcpy(msg->headers, headers, sizeof headers);
    QNTextDoc doc = kHttpDocTemplate;
    doc.write = docAppend;
    docInitWrite(&doc, msg->doc->text, msg->doc->size);
    int rc = httpSerialize(&doc, msg);
    if (rc == 0) {
        sock->len = doc.len;
        rc = sockWrite(sock);
    }
    if (sock->workFd != 0)
        sockCloseWork(sock);
    return rc;
}

Subscription *freeSlot(uint32_t now)
{
    for (Subscription &sub : table)
        if (!subscriptionLive(sub, now))
            return &sub;
    return nullptr;
}

// The live subscriptions one subscriber address holds.
int subscriptionsOf(uint32_t subscriber, uint32_t now)
{
    int n = 0;
    for (const Subscription &sub : table)
        n += subscriptionLive(sub, now) && sub.subscriber == subscriber;
    return n;
}

// Asks the application about a request; the argument is a copy it may change.
QN_RET askApp(EntitySlot *slot, const char *text)
{
    char arg[QN_VAL_MAX_LEN];
    copyBounded(arg, sizeof arg, text);
    QNMsgHandler app = slot->dev.msgHandler;
    return app != nullptr ? app(slot->self, MT_DEV_SUBSCRIBE, 0, arg) : QN_OK;
}

int subscribeNew(MsgHandler *handler, EntitySlot *slot, const QNServDesc *serv, uint32_t seconds)
{
    HttpMsg *msg = handler->msg;
    const char *nt = findHeader(msg, HH_NT);
    if (std::strcmp(nt, "upnp:event") != 0) {
        consolePrint(" subscribe: NT = %s\r\n", nt);
        return answerStatus(handler, 412);
    }
    const char *callback = findHeader(msg, HH_CALLBACK);
    if (callback == nullptr) {
        consolePrint(" NULL callback\r\n");
        return answerStatus(handler, 412);
    }
    if (findHeader(msg, HH_SID) != nullptr) {
        consolePrint(" subscribe: SID\r\n");
        return answerStatus(handler, 400);
    }
    uint32_t subscriber = msg->sock->peer.sin_addr.s_addr;
    int urls = checkCallbacks(callback, subscriber);
    if (urls <= 0) {
        consolePrint(" subscribe: bad callback\r\n");
        return answerStatus(handler, 412); // UDA 1.0, 4.1.1: CALLBACK missing or invalid
    }
    if (subscriptionsOf(subscriber, genaNow()) >= kMaxSubscriptionsPerSubscriber) {
        consolePrint(" subscribe: too many of one subscriber\r\n");
        return answerStatus(handler, 500);
    }
    char callbacks[QN_VAL_MAX_LEN];
    copyBounded(callbacks, sizeof callbacks, callback);
    RequestGuard guard(handler);
    QN_RET declined = askApp(slot, callbacks);
    if (!guard.alive())
        return 0;
    if (declined != 0) {
        consolePrint(" subscribe: user declined\r\n");
        return answerStatus(handler, 500);
    }
    uint32_t now = genaNow();
    Subscription *sub = freeSlot(now);
    if (sub == nullptr) {
        consolePrint(" no mem\r\n");
        return answerStatus(handler, 500);
    }
    Subscription fresh{};
    if (!makeSid(fresh.sid, sizeof fresh.sid))
        return answerStatus(handler, 500);
    fresh.id = takeId();
    fresh.device = slot->self;
    fresh.service = serv;
    fresh.callbackCount = static_cast<uint8_t>(urls);
    fresh.subscriber = subscriber;
    copyBounded(fresh.callbacks, sizeof fresh.callbacks, callbacks);
    fresh.expiry = expiryAfter(seconds);
    *sub = fresh;
    int rc = answerSubscribed(handler, slot, fresh.sid, seconds);
    if (rc != 0) {
        *sub = Subscription{};
        return rc;
    }
    (void)notifySubscriber(slot->self, fresh.sid, serv);
    return 0;
}

int renew(MsgHandler *handler, EntitySlot *slot, const QNServDesc *serv, uint32_t seconds)
{
    HttpMsg *msg = handler->msg;
    if (findHeader(msg, HH_CALLBACK) != nullptr) {
        consolePrint(" renewal: CALLBACK\r\n");
        return answerStatus(handler, 400);
    }
    const char *sidHeader = findHeader(msg, HH_SID);
    if (sidHeader == nullptr) {
        consolePrint(" renewal: NULL sid\r\n");
        return answerStatus(handler, 412);
    }
    char sid[QN_VAL_MAX_LEN];
    copyBounded(sid, sizeof sid, sidHeader);
    // A SID renews only the subscription of the service it was given for.
    Subscription *sub = findSubscription(slot->self, sid);
    if (sub == nullptr || sub->service != serv) {
        consolePrint(" renewal: NULL sub\r\n");
        return answerStatus(handler, 412);
    }
    RequestGuard guard(handler);
    QN_RET declined = askApp(slot, sid);
    if (!guard.alive())
        return 0;
    if (declined != 0) {
        consolePrint(" subscribe: user declined\r\n");
        return answerStatus(handler, 500);
    }
    sub = findSubscription(slot->self, sid);
    if (sub == nullptr)
        return answerStatus(handler, 412);
    sub->expiry = expiryAfter(seconds);
    return answerRenewed(handler, slot, sub->sid, seconds);
}

// A cancellation is checked whole before the application hears of it: a
// SID that names no subscription is answered 412 (UDA 1.0, 4.1.3).
int cancel(MsgHandler *handler, EntitySlot *slot)
{
    HttpMsg *msg = handler->msg;
    const char *sidHeader = findHeader(msg, HH_SID);
    if (sidHeader == nullptr) {
        consolePrint(" unsubscribe: NULL sid\r\n");
        return answerStatus(handler, 412);
    }
    if (findHeader(msg, HH_CALLBACK) != nullptr || findHeader(msg, HH_NT) != nullptr) {
        consolePrint(" unsubscribe: SID with cb or nt\r\n");
        return answerStatus(handler, 400);
    }
    char sid[QN_VAL_MAX_LEN];
    copyBounded(sid, sizeof sid, sidHeader);
    if (findSubscription(slot->self, sid) == nullptr) {
        consolePrint(" unsubscribe: NULL sub\r\n");
        return answerStatus(handler, 412);
    }
    RequestGuard guard(handler);
    (void)askApp(slot, sid); // a cancellation cannot be declined
    if (!guard.alive())
        return 0;
    Subscription *sub = findSubscription(slot->self, sid);
    if (sub != nullptr)
        *sub = Subscription{};
    return answerStatus(handler, 200);
}

} // namespace

Subscription *subscriptionTable()
{
    return table;
}

uint32_t genaNow()
{
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
}

bool subscriptionLive(const Subscription &sub, uint32_t now)
{
    return sub.id != 0 && (sub.expiry == kNeverExpires || now < sub.expiry);
}

Subscription *findSubscription(QN_DEVICE device, const char *sid)
{
    if (sid == nullptr || sid[0] == '\0')
        return nullptr;
    uint32_t now = genaNow();
    for (Subscription &sub : table)
        if (subscriptionLive(sub, now) && sub.device == device && std::strcmp(sub.sid, sid) == 0)
            return &sub;
    return nullptr;
}

bool makeSid(char *out, size_t size)
{
    if (out == nullptr || size < kSidSize) {
        if (out != nullptr && size > 0)
            out[0] = '\0';
        return false;
    }
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    static constexpr char kHex[] = "0123456789abcdef";
    char text[kSidSize];
    size_t at = copyBounded(text, sizeof text, "uuid:");
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text[at++] = '-';
        text[at++] = kHex[bytes[i] >> 4];
        text[at++] = kHex[bytes[i] & 0x0F];
    }
    text[at] = '\0';
    copyBounded(out, size, text);
    return true;
}

namespace {

// One URL between the angle brackets: http://a.b.c.d[:port][/path].
bool readOneUrl(std::string_view one, CallbackUrl *url)
{
    constexpr std::string_view kScheme = "http://";
    if (one.size() < kScheme.size() || strncasecmp(one.data(), kScheme.data(), kScheme.size()) != 0 ||
        one.find_first_of(" \t\r\n<") != std::string_view::npos)
        return false;
    one.remove_prefix(kScheme.size());
    size_t hostEnd = std::min(one.find_first_of(":/"), one.size());
    char host[kAddrTextLen];
    if (hostEnd == 0 || hostEnd >= sizeof host)
        return false;
    copyBounded(host, sizeof host, one.substr(0, hostEnd));
    *url = CallbackUrl{};
    if (inet_pton(AF_INET, host, &url->addr) != 1)
        return false; // host names are not resolved
    one.remove_prefix(hostEnd);
    url->port = 80;
    if (!one.empty() && one.front() == ':') {
        size_t digits = 1;
        uint32_t port = 0;
        for (; digits < one.size() && digits <= 5 && one[digits] >= '0' && one[digits] <= '9'; ++digits)
            port = port * 10 + static_cast<uint32_t>(one[digits] - '0');
        if (digits == 1 || port == 0 || port > 0xFFFF || (digits < one.size() && one[digits] != '/'))
            return false;
        url->port = static_cast<uint16_t>(port);
        one.remove_prefix(digits);
    }
    if (one.empty())
        one = "/";
    if (one.front() != '/' || one.size() >= sizeof url->path)
        return false; // a path we would have to cut is not the subscriber's
    copyBounded(url->path, sizeof url->path, one);
    return true;
}

} // namespace

CallbackRead readCallbackUrl(const char *text, size_t *pos, CallbackUrl *url)
{
    std::string_view all(text != nullptr ? text : "");
    if (*pos > all.size())
        *pos = all.size();
    std::string_view rest = all.substr(*pos);
    size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        *pos = all.size();
        return CB_END;
    }
    rest.remove_prefix(start);
    size_t close = rest.find('>');
    if (rest.front() != '<' || close == std::string_view::npos) {
        *pos = all.size();
        return CB_BAD;
    }
    *pos += start + close + 1;
    return readOneUrl(rest.substr(1, close - 1), url) ? CB_URL : CB_BAD;
}

bool nextCallbackUrl(const char *text, size_t *pos, CallbackUrl *url)
{
    return readCallbackUrl(text, pos, url) == CB_URL;
}

int checkCallbacks(const char *text, uint32_t source)
{
    size_t pos = 0;
    CallbackUrl url;
    int count = 0;
    for (;;) {
        CallbackRead r = readCallbackUrl(text, &pos, &url);
        if (r == CB_END)
            return count > 0 ? count : -1;
        if (r == CB_BAD || url.addr != source || ++count > kMaxCallbackUrls)
            return -1;
    }
}

int genaSubscribeRequest(MsgHandler *handler)
{
    EntitySlot *slot = requestDevice(handler);
    if (slot == nullptr || serverState() != SS_RUNNING)
        return -1;
    HttpMsg *msg = handler->msg;
    if (msg->method != HM_SUBSCRIBE && msg->method != HM_UNSUBSCRIBE)
        return -1;
    if (!hostNamesDevice(slot, findHeader(msg, HH_HOST)))
        return -1;
    uint32_t seconds = grantedSeconds(findHeader(msg, HH_TIMEOUT));
    const QNServDesc *serv = serviceAtPath(slot, "eventSubURL", msg->uri);
    if (serv == nullptr) {
        consolePrint(" getScpdByEventSubUrl() retusn NULL\r\n");
        return -1;
    }
    int rc = 0;
    if (msg->method == HM_UNSUBSCRIBE)
        rc = cancel(handler, slot);
    else if (findHeader(msg, HH_NT) != nullptr)
        rc = subscribeNew(handler, slot, serv, seconds);
    else
        rc = renew(handler, slot, serv, seconds);
    if (rc != 0)
        debugPrintf(LOG_GENA, LOG_ERROR, "Subscription answer failed: %d\r\n", rc);
    return 0;
}

int genaMatch(MsgHandler *handler)
{
    return genaSubscribeRequest(handler);
}

// A device's GENA role does all its work in the match.
int genaHandle(MsgHandler *)
{
    return 0;
}

void genaForgetDevice(QN_ENTITY device)
{
    std::lock_guard guard(stackLock());
    for (Subscription &sub : table)
        if (sub.id != 0 && sub.device == device)
            sub = Subscription{};
}
