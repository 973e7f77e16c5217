// GENA eventing, control-point side: subscribing, renewing and cancelling
// (on the caller's thread, without the stack lock while it waits for the
// device), and the event listener that hands each NOTIFY to the
// application as MT_CP_EVENT.
//
// Several control points may share one event port (the explorer's device
// control points all listen on theirs): the stack remembers which control
// point holds which SID, so that an event reaches the control point that
// subscribed, not merely the first one on the port.
#include "clientConn.h"
#include "entity.h"
#include "gena.h"
#include "log.h"
#include "roles.h"
#include "soapParse.h"
#include "soapWrite.h"
#include "text.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {

// One subscription a control point made. A pending entry stands for a
// SUBSCRIBE whose answer (and SID) has not been read yet: the initial
// event may arrive before it.
struct CpSubscription {
    QN_CONTROL_POINT cp;
    bool used;
    bool pending;
    uint32_t expiry;
    char sid[QN_NAME_MAX_LEN];
};

CpSubscription cpSubs[kMaxCpSubscriptions]; // under stackLock()

CpSubscription *findCpSub(std::string_view sid)
{
    uint32_t now = genaNow();
    for (CpSubscription &s : cpSubs)
        if (s.used && !s.pending && now < s.expiry && sid == s.sid)
            return &s;
    return nullptr;
}

CpSubscription *takeCpSub()
{
    uint32_t now = genaNow();
    for (CpSubscription &s : cpSubs)
        if (!s.used || (!s.pending && now >= s.expiry))
            return &s;
    return nullptr;
}

// Registers a SUBSCRIBE about to be sent; returns its entry or nullptr.
CpSubscription *notePending(QN_CONTROL_POINT cp)
{
    std::lock_guard guard(stackLock());
    CpSubscription *s = takeCpSub();
    if (s != nullptr)
        *s = CpSubscription{cp, true, true, 0, {}};
    return s;
}

// Records the outcome of a subscription or renewal: the SID and how long
// the device granted it (the answer's Timeout, else what was asked).
void noteSubscribed(CpSubscription *pending, QN_CONTROL_POINT cp, const char *sid, const char *timeout,
                    int32_t asked)
{
    std::lock_guard guard(stackLock());
    CpSubscription *s = pending;
    if (s == nullptr)
        s = findCpSub(sid);
    if (s == nullptr)
        s = takeCpSub();
    if (s == nullptr)
        return;
    uint32_t seconds = asked > 0 ? static_cast<uint32_t>(asked) : kMinSubscriptionSeconds;
    std::string_view granted(timeout != nullptr ? timeout : "");
    if (granted == "Second-infinite") {
        seconds = kNeverExpires;
    } else if (granted.starts_with("Second-")) {
        long value = std::strtol(timeout + 7, nullptr, 10);
        if (value > 0)
            seconds = value >= static_cast<long>(kNeverExpires) ? kNeverExpires : static_cast<uint32_t>(value);
    }
    uint64_t until = static_cast<uint64_t>(genaNow()) + seconds;
    *s = CpSubscription{cp, true, false, until >= kNeverExpires ? kNeverExpires - 1 : static_cast<uint32_t>(until), {}};
    copyBounded(s->sid, sizeof s->sid, sid);
}

void dropCpSub(CpSubscription *pending, const char *sid)
{
    std::lock_guard guard(stackLock());
    if (pending != nullptr)
        *pending = CpSubscription{};
    CpSubscription *s = sid != nullptr ? findCpSub(sid) : nullptr;
    if (s != nullptr)
        *s = CpSubscription{};
}

// True when a control point listens on the socket an event came in on.
bool listensOn(const EntitySlot *slot, const SockInfo *sock)
{
    return slot != nullptr && slot->kind == EK_CTRL_POINT && slot->registered[CR_EVENT] &&
           slot->handlers[CR_EVENT].sock == sock && slot->handlers[CR_EVENT].state == ES_RUNNING;
}

// The control point an event is for: the one that holds its SID and
// listens where it came in. An event for no SID of the process is not an
// event (UDA 1.0, 4.2.1: 412), whoever else may be waiting for one.
EntitySlot *eventOwner(const SockInfo *sock, const char *sid)
{
    const CpSubscription *known = sid != nullptr ? findCpSub(sid) : nullptr;
    EntitySlot *slot = known != nullptr ? entityAt(known->cp) : nullptr;
    return listensOn(slot, sock) ? slot : nullptr;
}

bool subscriptionInFlight(const SockInfo *sock)
{
    for (const CpSubscription &s : cpSubs)
        if (s.used && s.pending && listensOn(entityAt(s.cp), sock))
            return true;
    return false;
}

// An event whose SID is not known yet while a subscription of the same
// listener waits for its answer: a device may send the initial event before
// the control point has read the SID (GUPnP does). It is held until the
// SID is known, and dropped unread when it never is.
struct HeldEvent {
    bool used;
    const SockInfo *sock;
    int64_t untilMs;
    char sid[QN_NAME_MAX_LEN];
    std::unique_ptr<QNApiEvent> event;
};

HeldEvent held[kMaxHeldEvents]; // under stackLock()
bool heldTaskAdded = false;

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void handOverEvent(EntitySlot *owner, QNApiEvent *event)
{
    debugPrint(LOG_GENA, "Good notify comes\r\n", LOG_DETAIL);
    if (owner->cp.msgHandler(owner->self, MT_CP_EVENT, 0, event) != 0)
        consolePrint(" onEvent() error.\r\n");
}

// Runs on every pass of the loop: hands over the held events whose SID is
// known now, and forgets those that waited long enough.
bool releaseHeldEvents()
{
    int64_t now = steadyMs();
    for (HeldEvent &h : held) {
        if (!h.used)
            continue;
        EntitySlot *owner = eventOwner(h.sock, h.sid);
        if (owner == nullptr && now < h.untilMs)
            continue;
        std::unique_ptr<QNApiEvent> event = std::move(h.event);
        h.used = false;
        if (owner != nullptr && owner->cp.msgHandler != nullptr)
            handOverEvent(owner, event.get());
    }
    return false;
}

} // namespace

void genaForgetHeldEvents()
{
    std::lock_guard guard(stackLock());
    for (HeldEvent &h : held) {
        h.event.reset();
        h.used = false;
    }
}

namespace {

bool holdEvent(const SockInfo *sock, const char *sid, std::unique_ptr<QNApiEvent> &event)
{
    for (HeldEvent &h : held) {
        if (h.used)
            continue;
        if (!heldTaskAdded)
            heldTaskAdded = serverAddPassTask(releaseHeldEvents);
        h.used = true;
        h.sock = sock;
        h.untilMs = steadyMs() + kHeldEventMs;
        copyBounded(h.sid, sizeof h.sid, sid);
        h.event = std::move(event);
        return heldTaskAdded;
    }
    return false;
}

bool isCtrlPoint(QN_CONTROL_POINT cp)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(cp);
    return slot != nullptr && slot->kind == EK_CTRL_POINT;
}

QN_RET preparationResult(int rc)
{
    if (rc == CP_NOT_RUNNING || rc == CP_NO_DEVICE) {
        debugPrint(LOG_GENA, "Wrong state\r\n", LOG_DETAIL);
        return QN_ERR;
    }
    return rc == QN_ERR_ARG || rc == CP_NO_SERVICE || rc == CP_NO_URL ? QN_ERR_ARG : rc;
}

// "<http://address:port/path>": the listener of the control point, at the
// address its connection to the device comes from.
void callbackOf(const CpCall &call, char *out, size_t size)
{
    const char *slash = call.eventPath[0] == '/' || call.eventPath[0] == '\0' ? "" : "/";
    strBuild(out, static_cast<int>(size), "s", "<http://", "s", call.localAddr, "s", ":", "u",
             static_cast<unsigned>(call.eventPort), "s", slash, "s", call.eventPath, "s", ">", "");
}

struct GenaAnswer {
    int rc;
    uint16_t status;
    char sid[QN_NAME_MAX_LEN];
    char timeout[QN_NAME_MAX_LEN];
};

// Sends one SUBSCRIBE or UNSUBSCRIBE and reads the answer's head.
GenaAnswer exchangeGena(const CpCall &call, int method, const HttpHeader *headers, int count)
{
    GenaAnswer answer{};
    ClientConn conn;
    if (openCpCall(conn, call, kGenaAbsoluteWaitUs, kGenaRelativeWaitUs) != 0) {
        debugPrint(LOG_GENA, "Sub'ing - sock open error\r\n", LOG_ERROR);
        answer.rc = QN_ERR_SOCK;
        return answer;
    }
    answer.rc = conn.request(method, call.target.path, headers, count, nullptr, 0);
    if (answer.rc != 0)
        return answer;
    HttpMsg msg;
    debugPrint(LOG_GENA, "Parsing http\r\n", LOG_DETAIL);
    answer.rc = conn.readAnswer(&msg);
    if (answer.rc != 0) {
        debugPrint(LOG_GENA, "http parsing error\r\n", LOG_ERROR);
        return answer;
    }
    answer.status = msg.status;
    const char *sid = findHeader(&msg, HH_SID);
    copyBounded(answer.sid, sizeof answer.sid, sid != nullptr ? sid : "");
    const char *timeout = findHeader(&msg, HH_TIMEOUT);
    copyBounded(answer.timeout, sizeof answer.timeout, timeout != nullptr ? timeout : "");
    return answer;
}

} // namespace

extern "C" QN_RET qnCPSubscribe(QN_CONTROL_POINT cp, const char *serviceType, const char *callbackPath,
                                int32_t timeout, char *sid, int32_t sidSize)
{
    if (serviceType == nullptr || callbackPath == nullptr || sid == nullptr || sidSize <= 0 || !isCtrlPoint(cp)) {
        consolePrint(" invalid args\r\n");
        return QN_ERR_ARG;
    }
    CpCall call;
    int rc = prepareCpCall(cp, CR_EVENT, serviceType, "eventSubURL", &call);
    if (rc != 0)
        return preparationResult(rc);
    bool renewal = sid[0] != '\0';
    char timeoutText[32];
    strBuild(timeoutText, sizeof timeoutText, "s", "Second-", "d", timeout, "");
    char callback[QN_VAL_MAX_LEN];
    callbackOf(call, callback, sizeof callback);
    char oldSid[QN_NAME_MAX_LEN];
    copyBounded(oldSid, sizeof oldSid, std::string_view(sid, strnlen(sid, static_cast<size_t>(sidSize))));
    HttpHeader headers[4] = {makeHeader(HH_HOST, call.target.host)};
    int count = 1;
    if (renewal) {
        headers[count++] = makeHeader(HH_SID, oldSid);
        debugPrint(LOG_GENA, "Sending renew\r\n", LOG_DETAIL);
    } else {
        headers[count++] = makeHeader(HH_CALLBACK, callback);
        headers[count++] = makeHeader(HH_NT, "upnp:event");
        debugPrint(LOG_GENA, "Sending sub\r\n", LOG_DETAIL);
    }
    headers[count++] = makeHeader(HH_TIMEOUT, timeoutText);
    CpSubscription *pending = renewal ? nullptr : notePending(cp);
    GenaAnswer answer = exchangeGena(call, HM_SUBSCRIBE, headers, count);
    if (answer.rc == 0 && answer.sid[0] != '\0')
        copyBounded(sid, static_cast<size_t>(sidSize), answer.sid);
    if (answer.rc != 0 || answer.status != 200) {
        dropCpSub(pending, nullptr);
        return answer.rc != 0 ? answer.rc : QN_ERR;
    }
    noteSubscribed(pending, cp, answer.sid[0] != '\0' ? answer.sid : oldSid, answer.timeout, timeout);
    return QN_OK;
}

extern "C" QN_RET qnCPUnsubscribe(QN_CONTROL_POINT cp, const char *serviceType, const char *sid)
{
    if (serviceType == nullptr || sid == nullptr || sid[0] == '\0' || !isCtrlPoint(cp)) {
        consolePrint(" invalid args\r\n");
        return QN_ERR_ARG;
    }
    CpCall call;
    int rc = prepareCpCall(cp, CR_EVENT, serviceType, "eventSubURL", &call);
    if (rc != 0)
        return preparationResult(rc);
    const HttpHeader headers[] = {makeHeader(HH_HOST, call.target.host), makeHeader(HH_SID, sid)};
    debugPrint(LOG_GENA, "Sending unsub\r\n", LOG_DETAIL);
    GenaAnswer answer = exchangeGena(call, HM_UNSUBSCRIBE, headers, 2);
    dropCpSub(nullptr, sid);
    if (answer.rc != 0)
        return answer.rc;
    return answer.status == 200 ? QN_OK : QN_ERR;
}

// The event listener takes NOTIFY requests only; other methods are left to
// the server's answer for requests no role takes.
int eventMatch(MsgHandler *handler)
{
    EntitySlot *slot = entityOf(handler);
    return slot != nullptr && slot->kind == EK_CTRL_POINT && handler->msg != nullptr &&
                   handler->msg->method == HM_NOTIFY
               ? 0
               : -1;
}

namespace {

// The status a NOTIFY's headers earn before its body is read (UDA 1.0,
// 4.2.1): 400 without Nt or Nts, 412 when they are not an event's or the
// Sid is missing; 0 when it may be an event.
int eventHeadStatus(const HttpMsg *msg)
{
    const char *nt = findHeader(msg, HH_NT);
    const char *nts = findHeader(msg, HH_NTS);
    if (nt == nullptr || nts == nullptr)
        return 400;
    if (std::strcmp(nt, "upnp:event") != 0 || std::strcmp(nts, "upnp:propchange") != 0 ||
        findHeader(msg, HH_SID) == nullptr)
        return 412;
    return 0;
}

} // namespace

// onEventRequest: reads the property set and hands it to the control point
// that holds the event's SID; answers 200 when the application took it.
int eventHandle(MsgHandler *handler)
{
    HttpMsg *msg = handler != nullptr ? handler->msg : nullptr;
    if (msg == nullptr || msg->sock == nullptr || msg->body == nullptr)
        return QN_ERR_ARG;
    int refused = eventHeadStatus(msg);
    if (refused != 0)
        return httpSendResponse(handler, refused, nullptr, 0, nullptr, 0);
    char sid[QN_NAME_MAX_LEN];
    copyBounded(sid, sizeof sid, findHeader(msg, HH_SID));
    SockInfo *sock = msg->sock;
    EntitySlot *owner = eventOwner(sock, sid);
    bool hold = owner == nullptr && subscriptionInFlight(sock);
    if (owner == nullptr && !hold) {
        debugPrint(LOG_GENA, "Notify for no subscription\r\n", LOG_DETAIL);
        return httpSendResponse(handler, 412, nullptr, 0, nullptr, 0);
    }
    debugPrint(LOG_GENA, "Paring Notify\r\n", LOG_DETAIL);
    std::unique_ptr<QNApiEvent> event(new (std::nothrow) QNApiEvent{});
    if (event == nullptr)
        return QN_ERR_NOMEM;
    QNTextDoc doc;
    xmlDocOpen(&doc, kSoapDocKind, msg->body, 0);
    int rc = parseSoap(&doc, event.get());
    if (rc != 0)
        return rc;
    copyBounded(event->errDesc, sizeof event->errDesc, sid);
    if (hold) {
        if (!holdEvent(sock, sid, event))
            return httpSendResponse(handler, 503, nullptr, 0, nullptr, 0);
        return httpSendResponse(handler, 200, nullptr, 0, nullptr, 0);
    }
    if (owner->cp.msgHandler == nullptr)
        return QN_ERR;
    debugPrint(LOG_GENA, "Good notify comes\r\n", LOG_DETAIL);
    char *data = sock->data;
    rc = owner->cp.msgHandler(owner->self, MT_CP_EVENT, 0, event.get());
    if (rc != 0) {
        consolePrint(" onEvent() error.\r\n");
        return rc;
    }
    // The application may have removed the control point, and its socket.
    if (handler->msg != msg || sock->data != data || sock->workFd == 0)
        return 0;
    debugPrint(LOG_GENA, "Sending ack\r\n", LOG_DETAIL);
    return httpSendResponse(handler, 200, nullptr, 0, nullptr, 0);
}
