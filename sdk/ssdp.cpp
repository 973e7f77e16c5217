#include "ssdp.h"

#include "log.h"
#include "query.h"
#include "roles.h"
#include "text.h"
#include "track.h"

#include <arpa/inet.h>

#include <chrono>
#include <cstring>

namespace {

constexpr char kMaxAge[] = "max-age=120";
constexpr uint32_t kDefaultAdPeriod = 20;

// One header row, or none when its value is absent.
void addHeader(HttpMsg &msg, int index, const char *value)
{
    if (value == nullptr || msg.count >= kMaxHeaders)
        return;
    msg.headers[msg.count].index = index;
    copyBounded(msg.headers[msg.count].value, sizeof msg.headers[msg.count].value, value);
    ++msg.count;
}

// What a control point searches for: a bound one that already holds its
// device asks that device alone, by its UDN. Every device on the network
// answers ssdp:all, and an explorer binds one control point per device.
const char *searchTarget(const EntitySlot *slot)
{
    if (slot->boundUrl[0] == '\0' || slot->desc == nullptr)
        return nullptr;
    const QNDevDesc &root = slot->desc->device;
    const char *udn = findNameVal(root.fields, root.fieldCount, "UDN");
    return udn != nullptr && udn[0] != '\0' ? udn : nullptr;
}

uint32_t adPeriod(const EntitySlot *slot)
{
    return slot->dev.adPeriod > 0 ? static_cast<uint32_t>(slot->dev.adPeriod) : kDefaultAdPeriod;
}

} // namespace

uint32_t ssdpNow()
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count() / 1000);
}

int ssdpWrite(char *buf, int size, int kind, const char *location, const char *target, const char *usn)
{
    HttpMsg msg{};
    msg.major = 1;
    msg.minor = 1;
    copyBounded(msg.uri, sizeof msg.uri, "*");
    switch (kind) {
    case SK_SEARCH:
        msg.method = HM_MSEARCH;
        addHeader(msg, HH_HOST, kSsdpHost);
        addHeader(msg, HH_MAN, "\"ssdp:discover\"");
        addHeader(msg, HH_MX, "3");
        addHeader(msg, HH_ST, target != nullptr ? target : "ssdp:all");
        break;
    case SK_RESPONSE:
        msg.method = HM_RESPONSE;
        msg.status = 200;
        addHeader(msg, HH_CACHE_CONTROL, kMaxAge);
        addHeader(msg, HH_DATE, "");
        addHeader(msg, HH_EXT, "");
        addHeader(msg, HH_LOCATION, location);
        addHeader(msg, HH_SERVER, kSsdpServerHeader);
        addHeader(msg, HH_ST, target);
        addHeader(msg, HH_USN, usn);
        break;
    case SK_ALIVE:
        msg.method = HM_NOTIFY;
        addHeader(msg, HH_CACHE_CONTROL, kMaxAge);
        addHeader(msg, HH_LOCATION, location);
        addHeader(msg, HH_SERVER, kSsdpServerHeader);
        addHeader(msg, HH_HOST, kSsdpHost);
        addHeader(msg, HH_NT, target);
        addHeader(msg, HH_USN, usn);
        addHeader(msg, HH_NTS, "ssdp:alive");
        break;
    case SK_BYEBYE:
        msg.method = HM_NOTIFY;
        addHeader(msg, HH_HOST, kSsdpHost);
        addHeader(msg, HH_NT, target);
        addHeader(msg, HH_USN, usn);
        addHeader(msg, HH_NTS, "ssdp:byebye");
        break;
    default:
        return QN_ERR_ARG;
    }
    QNTextDoc doc = kHttpDocTemplate;
    docInitWrite(&doc, buf, static_cast<uint32_t>(size));
    doc.write = docAppend;
    doc.user = &msg;
    if (httpSerialize(&doc, &msg) != 0)
        return QN_ERR_ARG;
    return static_cast<int>(std::strlen(buf));
}

int ssdpSend(const SockInfo *sock, int kind, int level, const char *location, const char *target,
             const char *usn, const char *addr, uint16_t port)
{
    if (sock == nullptr || kind < SK_SEARCH || kind > SK_BYEBYE || level < SL_ROOT || level > SL_SERVICE)
        return QN_ERR_ARG;
    char buf[kSsdpMsgMax];
    int len = ssdpWrite(buf, sizeof buf, kind, location, target, usn);
    if (len <= 0)
        return QN_ERR_ARG;
    debugPrintf(LOG_SSDP, LOG_DETAIL, "Sending ssdp:\r\n%s", buf);
    return sockSendTo(sock, buf, static_cast<uint32_t>(len), addr, port);
}

int advertiseDevice(const SockInfo *sock, int kind, int level, const char *location, const QNDevDesc *dev)
{
    int rc = 0;
    int found = forEachDeviceTarget(dev, level, [&](int lvl, const char *target, const char *usn) {
        int r = ssdpSend(sock, kind, lvl, location, target, usn, kSsdpGroup, kSsdpPort);
        if (r != 0)
            rc = r;
    });
    if (found != 0)
        return found;
    for (int i = 0; i < dev->deviceCount; ++i)
        (void)advertiseDevice(sock, kind, SL_EMBEDDED, location, dev->devices[i]);
    return rc;
}

int advertiseOnce(MsgHandler *handler)
{
    EntitySlot *slot = entityOf(handler);
    if (slot == nullptr || slot->kind != EK_DEVICE || slot->desc == nullptr)
        return QN_ERR_ARG;
    SockInfo sender{};
    sockInit(&sender, kSsdpGroup, slot->dev.ipAddr, kSsdpPort, SP_MCAST_CLIENT, 0);
    if (sockOpen(&sender) != 0)
        consolePrint(" sockOpen() error\r\n");
    int kind = slot->announceAlive ? SK_ALIVE : SK_BYEBYE;
    int rc = advertiseDevice(&sender, kind, SL_ROOT, slot->descUrl, &slot->desc->device);
    consolePrint(rc == 0 ? " advertise OK\r\n" : " advertise failed\r\n");
    if (sender.fd != 0)
        sockClose(&sender);
    return rc;
}

int armSearch(MsgHandler *handler)
{
    // One pending search per control point, however often it is asked for
    // before it runs: the search goes out once, when it can.
    if (timerArmed(handler, cpSearchTask))
        return 0;
    return timerAdd(1, cpSearchTask, handler) >= 0 ? 0 : QN_ERR_NOMEM;
}

int armAdvertisement(MsgHandler *handler)
{
    if (timerArmed(handler, advertiseTask))
        return 0;
    return timerAdd(1, advertiseTask, handler) >= 0 ? 0 : QN_ERR_NOMEM;
}

int advertiseTask(MsgHandler *handler)
{
    EntitySlot *slot = entityOf(handler);
    if (slot == nullptr || slot->kind != EK_DEVICE)
        return QN_ERR_ARG;
    if (handler->state == ES_RUNNING && !slot->universal)
        (void)advertiseOnce(handler);
    if (timerAdd(adPeriod(slot), advertiseTask, handler) < 0) {
        consolePrint(" timer table full\r\n");
        return QN_ERR_NOMEM;
    }
    return 0;
}

int cpSearchTask(MsgHandler *handler)
{
    EntitySlot *slot = entityOf(handler);
    if (slot == nullptr || slot->kind != EK_CTRL_POINT)
        return QN_ERR_ARG;
    // Keep trying every second until the search socket runs.
    if (handler->state != ES_RUNNING || handler->sock == nullptr || handler->sock->fd == 0)
        return armSearch(handler);
    int rc = ssdpSend(handler->sock, SK_SEARCH, SL_ROOT, nullptr, searchTarget(slot), nullptr, kSsdpGroup, kSsdpPort);
    consolePrint(rc == 0 ? " search sent OK\r\n" : " search failed\r\n");
    return rc;
}

int ssdpMatch(MsgHandler *handler)
{
    return ssdpFilter(handler, handler->msg);
}

int ssdpHandle(MsgHandler *handler)
{
    return ssdpDispatch(handler);
}
