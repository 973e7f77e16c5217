// GENA eventing, device side: the events. The initial event of a new
// subscription carries the current value of every evented variable, asked
// from the device's handler; qnDevNotify sends the variables the
// application names. Delivery connects from the calling thread (the server
// thread for initial events) with a bounded connect and does not wait for
// the subscriber's answer.
#include "gena.h"

#include "clientConn.h"
#include "log.h"
#include "query.h"
#include "scpd.h"
#include "soapWrite.h"
#include "text.h"

#include <arpa/inet.h>

#include <cstring>

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

} // namespace

bool deliverEvent(Subscription &sub, const char *body, uint32_t bodyLen)
{
    const char *localAddr = localAddrOf(sub.device);
    size_t pos = 0;
    CallbackUrl url;
    bool reached = false;
    while (!reached && nextCallbackUrl(sub.callbacks, &pos, &url)) {
        if (url.port == 0)
            continue;
        ClientConn conn;
        if (conn.open(localAddr, url.addr, htons(url.port), kNotifyConnectWaitMs, 0) != 0) {
            debugPrint(LOG_GENA, "Notifying - sock open err\r\n", LOG_ERROR);
            continue;
        }
        reached = true;
        HttpMsg msg;
        buildNotify(&msg, sub, url, bodyLen);
        debugPrint(LOG_GENA, "Sending Notifying\r\n", LOG_DETAIL);
        if (conn.sendWhole(&msg, body, bodyLen) != 0) {
            debugPrint(LOG_GENA, "Notifying - sock write err\r\n", LOG_ERROR);
            consolePrint(" sockWrite() failed\r\n");
        }
    }
    // UDA 1.0, 4.2.1: after its maximum the sequence number wraps to 1.
    sub.seq = sub.seq == UINT32_MAX ? 1 : sub.seq + 1;
    return reached;
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
    return deliverEvent(*sub, body.data(), body.size()) ? 0 : -1;
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
    uint32_t now = genaNow();
    int delivered = 0;
    Subscription *table = subscriptionTable();
    for (int i = 0; i < kMaxSubscriptions; ++i) {
        Subscription &sub = table[i];
        if (subscriptionLive(sub, now) && sub.device == device && sub.service == serv &&
            deliverEvent(sub, body.data(), body.size()))
            ++delivered;
    }
    return delivered;
}
