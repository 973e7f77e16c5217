// GENA eventing, device side: the events. The initial event of a new
// subscription carries the current value of every evented variable, asked
// from the device's handler; qnDevNotify sends the variables the
// application names. Neither waits for a subscriber: an event is queued
// per subscription and delivered by the server loop (exchange.h), one at a
// time per subscription so that they arrive in sequence, and a subscription
// whose deliveries keep failing is dropped.
#include "gena.h"

#include "clientConn.h"
#include "exchange.h"
#include "log.h"
#include "query.h"
#include "scpd.h"
#include "soapWrite.h"
#include "text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kEventContentType[] = "text/xml";

// The request of one event for one delivery URL; Host names the URL's
// address and port as it was written.
void buildNotify(HttpMsg *msg, const Subscription &sub, const CallbackUrl &url, uint32_t bodyLen)
{
    *msg = HttpMsg{};
    msg->major = 1;
    msg->minor = 1;
    msg->method = HM_NOTIFY;
    copyBounded(msg->uri, sizeof msg->uri, url.path);
    char host[QN_NAME_MAX_LEN];
    formatAddr(ntohl(url.addr), url.port, host, sizeof host);
    char length[16];
    char seq[16];
    strBuild(length, sizeof length, "u", bodyLen, "");
    strBuild(seq, sizeof seq, "u", sub.seq, "");
    const HttpHeader headers[] = {
        makeHeader(HH_HOST, host),
        makeHeader(HH_CONTENT_TYPE, kEventContentType),
        makeHeader(HH_CONTENT_LENGTH, length),
        makeHeader(HH_NT, "upnp:event"),
        makeHeader(HH_NTS, "upnp:propchange"),
        makeHeader(HH_SID, sub.sid),
        makeHeader(HH_SEQ, seq),
    };
    for (const HttpHeader &h : headers)
        msg->headers[msg->count++] = h;
}

const char *localAddrOf(QN_DEVICE device)
{
    EntitySlot *slot = entityAt(device);
    return slot != nullptr && slot->kind == EK_DEVICE ? slot->dev.ipAddr : "";
}

// Asks the device's handler for the value of every evented variable of the
// service and writes them into out. False when one could not be had, or
// the subscription or its device went away meanwhile.
bool collectValues(QN_DEVICE device, const QNScpd *scpd, Subscription *sub, SoapText &out)
{
    uint32_t id = sub->id;
    for (int i = 0; i < scpd->varCount; ++i) {
        const QNVarDesc *var = scpd->vars[i];
        if (var == nullptr || var->sendEvents == 0)
            continue;
        QNNameVal nv{};
        copyBounded(nv.name, sizeof nv.name, fieldView(var->name.val));
        EntitySlot *slot = entityAt(device);
        QNMsgHandler app = slot != nullptr ? slot->dev.msgHandler : nullptr;
        if (app == nullptr || app(device, MT_DEV_GET_VAR, 0, &nv) != 0) {
            consolePrint(" onGetVarVal(%s) failed\r\n", nv.name);
            return false;
        }
        // The handler may have removed the device, and with it the model
        // this loop walks: the subscription ends with the device.
        if (sub->id != id)
            return false;
        writeEventProperty(out, nv);
    }
    return true;
}

// ---- The queue ----------------------------------------------------------------------

// One event for one subscription, with everything its delivery needs: it
// goes out even when the subscription ends meanwhile, as it would have
// had it been sent at once.
struct Delivery {
    uint32_t subId;
    Subscription copy;                      // sid, seq, callbacks as queued
    char localAddr[kAddrTextLen];
    std::shared_ptr<const std::string> body;
    uint64_t afterConn;
    size_t urlPos;                          // the next delivery URL in the callbacks
};

// Under the stack lock.
std::deque<Delivery> waiting;
std::vector<uint32_t> inFlight; // subscriptions with a delivery under way

Subscription *subscriptionById(uint32_t id)
{
    uint32_t now = genaNow();
    Subscription *table = subscriptionTable();
    for (int i = 0; i < kMaxSubscriptions; ++i)
        if (table[i].id == id && subscriptionLive(table[i], now))
            return &table[i];
    return nullptr;
}

// Counts a failed delivery against a subscription; the third in a row ends it.
void noteFailure(uint32_t subId)
{
    Subscription *sub = subscriptionById(subId);
    if (sub == nullptr)
        return;
    if (++sub->failures < kMaxDeliveryFailures)
        return;
    consolePrint(" subscriber dropped: %s\r\n", sub->sid);
    debugPrint(LOG_GENA, "Subscriber dropped after failed deliveries\r\n", LOG_NOTABLE);
    *sub = Subscription{};
    std::erase_if(waiting, [subId](const Delivery &d) { return d.subId == subId; });
}

bool hasUrl(const char *callbacks)
{
    size_t pos = 0;
    CallbackUrl url;
    while (nextCallbackUrl(callbacks, &pos, &url))
        if (url.port != 0)
            return true;
    return false;
}

std::string notifyText(const Delivery &d, const CallbackUrl &url)
{
    HttpMsg msg;
    buildNotify(&msg, d.copy, url, static_cast<uint32_t>(d.body->size()));
    std::unique_ptr<char[]> head(new (std::nothrow) char[kMaxHeaders * kHttpLineMax + kHttpLineMax]);
    if (head == nullptr)
        return {};
    QNTextDoc doc = kHttpDocTemplate;
    doc.write = docAppend;
    docInitWrite(&doc, head.get(), kMaxHeaders * kHttpLineMax + kHttpLineMax);
    doc.user = &msg;
    if (httpSerialize(&doc, &msg) != 0)
        return {};
    return std::string(head.get(), doc.len) + *d.body;
}

void pump();

void finish(uint32_t subId, bool delivered)
{
    std::erase(inFlight, subId);
    if (delivered) {
        if (Subscription *sub = subscriptionById(subId))
            sub->failures = 0;
    } else {
        debugPrint(LOG_GENA, "Notifying - not delivered\r\n", LOG_ERROR);
        noteFailure(subId);
    }
    pump();
}

// Starts the delivery of d to its next URL; false when none is left.
bool attempt(Delivery &d)
{
    CallbackUrl url;
    bool found = false;
    while (!found && nextCallbackUrl(d.copy.callbacks, &d.urlPos, &url))
        found = url.port != 0;
    std::string request = found ? notifyText(d, url) : std::string();
    if (request.empty())
        return false;
    ExchangePlan plan{};
    plan.addr = url.addr;
    plan.port = htons(url.port);
    copyBounded(plan.localAddr, sizeof plan.localAddr, d.localAddr);
    plan.connectWaitMs = kNotifyConnectWaitMs;
    plan.totalWaitMs = kNotifyWaitMs;
    plan.answerMax = kNotifyAnswerMax;
    plan.headEnough = true;
    plan.afterConn = d.afterConn;
    d.afterConn = 0;
    debugPrint(LOG_GENA, "Sending Notifying\r\n", LOG_DETAIL);
    exchangeStart(plan, std::move(request), [d = std::move(d)](ExchangeResult &result) mutable {
        if (!result.connected) {
            // Refused or not accepted in time: the next URL gets it.
            debugPrint(LOG_GENA, "Notifying - sock open err\r\n", LOG_ERROR);
            if (attempt(d))
                return;
            finish(d.subId, false);
            return;
        }
        finish(d.subId, result.complete);
    });
    return true;
}

// Starts the first waiting delivery of every subscription that has none
// under way.
void pump()
{
    std::vector<uint32_t> passed;
    for (auto it = waiting.begin(); it != waiting.end();) {
        uint32_t id = it->subId;
        if (std::find(inFlight.begin(), inFlight.end(), id) != inFlight.end() ||
            std::find(passed.begin(), passed.end(), id) != passed.end()) {
            passed.push_back(id);
            ++it;
            continue;
        }
        Delivery d = std::move(*it);
        waiting.erase(it);
        inFlight.push_back(id);
        if (!attempt(d)) {
            std::erase(inFlight, id);
            noteFailure(id);
        }
        // A failure may have dropped queued events: walk again from the front.
        it = waiting.begin();
        passed.clear();
    }
}

size_t waitingFor(uint32_t subId)
{
    return static_cast<size_t>(
        std::count_if(waiting.begin(), waiting.end(), [subId](const Delivery &d) { return d.subId == subId; }));
}

bool queueShared(Subscription &sub, const std::shared_ptr<const std::string> &body, uint64_t afterConn)
{
    std::lock_guard guard(stackLock());
    Subscription copy = sub;
    // UDA 1.0, 4.2.1: after its maximum the sequence number wraps to 1.
    sub.seq = sub.seq == UINT32_MAX ? 1 : sub.seq + 1;
    if (!hasUrl(copy.callbacks))
        return false;
    if (waitingFor(copy.id) >= static_cast<size_t>(kMaxQueuedEvents)) {
        // The subscriber does not keep up; its events pile up here.
        debugPrint(LOG_GENA, "Notifying - queue full\r\n", LOG_ERROR);
        noteFailure(copy.id);
        return false;
    }
    Delivery d{};
    d.subId = copy.id;
    d.copy = copy;
    copyBounded(d.localAddr, sizeof d.localAddr, localAddrOf(copy.device));
    d.body = body;
    d.afterConn = afterConn;
    waiting.push_back(std::move(d));
    pump();
    return true;
}

} // namespace

bool queueEvent(Subscription &sub, const char *body, uint32_t bodyLen, uint64_t afterConn)
{
    return queueShared(sub, std::make_shared<const std::string>(body, bodyLen), afterConn);
}

void genaDropQueued()
{
    std::lock_guard guard(stackLock());
    waiting.clear();
    inFlight.clear();
}

int notifySubscriber(QN_DEVICE device, const char *sid, const QNServDesc *service)
{
    std::lock_guard guard(stackLock());
    const QNScpd *scpd = service != nullptr ? service->scpd : nullptr;
    if (scpd == nullptr || scpd->varCount == 0)
        return -1;
    Subscription *sub = findSubscription(device, sid);
    if (sub == nullptr || sub->callbackCount == 0 || sub->service != service)
        return -1;
    SoapText body;
    if (!body.ok())
        return QN_ERR_NOMEM;
    writeEventStart(body);
    if (!collectValues(device, scpd, sub, body))
        return -1;
    if (!writeEventEnd(body)) {
        debugPrint(LOG_GENA, "Event does not fit\r\n", LOG_ERROR);
        return -1;
    }
    return queueEvent(*sub, body.data(), body.size(), servingConn()) ? 0 : -1;
}

extern "C" QN_RET qnDevNotify(QN_DEVICE device, const char *serviceType, const QNNameVal *vars, int32_t count)
{
    if (serviceType == nullptr || count < 0 || count > QN_ARG_MAX_NUM || (count > 0 && vars == nullptr))
        return QN_ERR_ARG;
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(device);
    if (slot == nullptr || slot->kind != EK_DEVICE || slot->desc == nullptr)
        return QN_ERR_ARG;
    const QNServDesc *serv = findServiceByType(&slot->desc->device, serviceType);
    if (serv == nullptr)
        return QN_ERR_ARG;
    SoapText body;
    if (!writeEventBody(body, vars, count))
        return QN_ERR_NOMEM;
    auto shared = std::make_shared<const std::string>(body.data(), body.size());
    uint32_t now = genaNow();
    int queued = 0;
    Subscription *table = subscriptionTable();
    for (int i = 0; i < kMaxSubscriptions; ++i) {
        Subscription &sub = table[i];
        if (subscriptionLive(sub, now) && sub.device == device && sub.service == serv &&
            queueShared(sub, shared, 0))
            ++queued;
    }
    return queued;
}
