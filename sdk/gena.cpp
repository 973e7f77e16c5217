// GENA eventing, device side: the subscription table and the handling of
// SUBSCRIBE (new or renewal) and UNSUBSCRIBE on a device's control server.
// genaSubscribeRequest is the role's match and does the whole work.
#include "gena.h"

#include "devRequest.h"
#include "log.h"
#include "roles.h"
#include "text.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>

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

// The granted time-out in seconds (kNeverExpires for "infinite"). A
// missing, malformed or short request gets the minimum.
uint32_t grantedSeconds(const char *value)
{
    uint32_t seconds = kMinSubscriptionSeconds;
    std::string_view text(value != nullptr ? value : "");
    if (value == nullptr || !text.starts_with(kSecondPrefix)) {
        consolePrint(" NULL Timeout\r\n");
    } else if (text.substr(kSecondPrefix.size()) == "infinite") {
        seconds = kNeverExpires;
    } else if (text.size() > kSecondPrefix.size()) {
        long asked = std::strtol(value + kSecondPrefix.size(), nullptr, 10);
        if (asked > kMinSubscriptionSeconds)
            seconds = asked >= INT_MAX ? INT_MAX : static_cast<uint32_t>(asked);
    }
    consolePrint(" timeOut = %d\r\n", seconds == kNeverExpires ? -1 : static_cast<int>(seconds));
    return seconds;
}

uint32_t expiryAfter(uint32_t seconds)
{
    if (seconds == kNeverExpires)
        return kNeverExpires;
    uint64_t at = static_cast<uint64_t>(genaNow()) + seconds;
    return at >= kNeverExpires ? kNeverExpires - 1 : static_cast<uint32_t>(at);
}

int answerStatus(MsgHandler *handler, int status)
{
    return httpSendResponse(handler, status, nullptr, 0, nullptr, 0);
}

// 200 with Date, Sid, Timeout and Server. The answer names the minimum
// time-out whatever was granted.
void subscribedHeaders(const EntitySlot *slot, const char *sid, HttpHeader (&headers)[4])
{
    headers[0].index = HH_DATE;
    httpDate(headers[0].value, sizeof headers[0].value);
    headers[1].index = HH_SID;
    copyBounded(headers[1].value, sizeof headers[1].value, sid);
    headers[2].index = HH_TIMEOUT;
    strBuild(headers[2].value, sizeof headers[2].value, "s", "Second-", "d", kMinSubscriptionSeconds, "");
    headers[3].index = HH_SERVER;
    copyBounded(headers[3].value, sizeof headers[3].value, entityServerName(slot));
}

int answerRenewed(MsgHandler *handler, const EntitySlot *slot, const char *sid)
{
    HttpHeader headers[4]{};
    subscribedHeaders(slot, sid, headers);
    return httpSendResponse(handler, 200, headers, 3, nullptr, 0); // the writer adds Server
}

// Answers a new subscription. A control point that receives the initial
// event before it knows the SID may drop it (GUPnP does): the event must
// not overtake the answer, so it waits until this connection has ended
// (notifySubscriber). The answer has no length, so the subscriber reads
// until our end closes and then closes its own.
int answerSubscribed(MsgHandler *handler, const EntitySlot *slot, const char *sid)
{
    HttpMsg *msg = handler->msg;
    SockInfo *sock = msg->sock;
    HttpHeader headers[4]{};
    subscribedHeaders(slot, sid, headers);
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

// Counts the delivery URLs of a Callback text; false when one of them
// names another host than the subscriber's (a subscription must not turn
// the device against a stranger).
bool readCallbacks(const char *text, uint32_t source, int *count)
{
    *count = 0;
    size_t pos = 0;
    CallbackUrl url;
    while (nextCallbackUrl(text, &pos, &url)) {
        if (url.addr != source)
            return false;
        ++*count;
    }
    return true;
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
    int urls = 0;
    if (!readCallbacks(callback, msg->sock->peer.sin_addr.s_addr, &urls) || urls == 0) {
        consolePrint(" subscribe: callback = %s\r\n", callback);
        return answerStatus(handler, 412); // UDA 1.0, 4.1.1: CALLBACK missing or invalid
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
    copyBounded(fresh.callbacks, sizeof fresh.callbacks, callbacks);
    fresh.expiry = expiryAfter(seconds);
    *sub = fresh;
    int rc = answerSubscribed(handler, slot, fresh.sid);
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
    return answerRenewed(handler, slot, sub->sid);
}

int cancel(MsgHandler *handler, EntitySlot *slot)
{
    HttpMsg *msg = handler->msg;
    const char *sidHeader = findHeader(msg, HH_SID);
    if (sidHeader == nullptr) {
        consolePrint(" unsubscribe: NULL sid\r\n");
        return answerStatus(handler, 412);
    }
    char sid[QN_VAL_MAX_LEN];
    copyBounded(sid, sizeof sid, sidHeader);
    RequestGuard guard(handler);
    (void)askApp(slot, sid); // a cancellation cannot be declined
    if (!guard.alive())
        return 0;
    Subscription *sub = findSubscription(slot->self, sid);
    if (sub == nullptr) {
        consolePrint(" unsubscribe: NULL sub\r\n");
        return answerStatus(handler, 500);
    }
    if (findHeader(msg, HH_CALLBACK) != nullptr || findHeader(msg, HH_NT) != nullptr) {
        consolePrint(" unsubscribe: SID with cb or nt\r\n");
        return answerStatus(handler, 400);
    }
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

bool nextCallbackUrl(const char *text, size_t *pos, CallbackUrl *url)
{
    std::string_view all(text != nullptr ? text : "");
    while (*pos < all.size()) {
        std::string_view rest = all.substr(*pos);
        size_t start = rest.find_first_not_of(" \t<>");
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        size_t end = rest.find_first_of(" \t>");
        std::string_view one = rest.substr(0, end);
        *pos += start + one.size();
        if (one.size() < 5 || strncasecmp(one.data(), "http:", 5) != 0)
            continue;
        one.remove_prefix(5);
        while (!one.empty() && one.front() == '/')
            one.remove_prefix(1);
        size_t hostEnd = one.find_first_of(":/");
        char host[kAddrTextLen];
        if (copyBounded(host, sizeof host, one.substr(0, hostEnd)) != one.substr(0, hostEnd).size())
            continue;
        *url = CallbackUrl{};
        if (inet_pton(AF_INET, host, &url->addr) != 1)
            continue; // host names are not resolved
        one.remove_prefix(hostEnd == std::string_view::npos ? one.size() : hostEnd);
        if (!one.empty() && one.front() == ':') {
            uint32_t port = 0;
            size_t i = 1;
            for (; i < one.size() && one[i] >= '0' && one[i] <= '9' && port <= 0xFFFF; ++i)
                port = port * 10 + static_cast<uint32_t>(one[i] - '0');
            url->port = port <= 0xFFFF ? static_cast<uint16_t>(port) : 0;
            one.remove_prefix(i);
        }
        copyBounded(url->path, sizeof url->path, one.empty() ? std::string_view("/") : one);
        return true;
    }
    *pos = all.size();
    return false;
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
