#include "track.h"

#include "download.h"
#include "log.h"
#include "query.h"
#include "ssdp.h"
#include "text.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace {

constexpr long kMaxAgeCap = 24 * 60 * 60;

const char *field(const QNDevDesc *dev, const char *name)
{
    return findNameVal(dev->fields, dev->fieldCount, name);
}

// The Usn of an active record must be exactly udn::type; of an inactive one
// the text after the first "::" must be the type.
bool usnFits(bool active, const char *udn, const char *type, const char *usn)
{
    std::string_view u(usn);
    if (active) {
        char expected[QN_VAL_MAX_LEN];
        strBuild(expected, sizeof expected, "s", udn ? udn : "", "s", "::", "s", type, "");
        return u == expected;
    }
    size_t sep = u.find("::");
    return sep != std::string_view::npos && u.substr(sep + 2) == type;
}

// Reads "max-age = N"; 0 when absent or malformed.
uint32_t readMaxAge(const char *value)
{
    if (value == nullptr || std::strncmp(value, "max-age", 7) != 0)
        return 0;
    const char *p = value + 7;
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p != '=')
        return 0;
    ++p;
    while (*p == ' ' || *p == '\t')
        ++p;
    long n = std::strtol(p, nullptr, 10);
    if (n <= 0)
        return 0;
    // A device that claims to live for years would stay tracked long after
    // it is gone; an hour is what UDA 1.0 recommends, a day is plenty.
    return n > kMaxAgeCap ? kMaxAgeCap : static_cast<uint32_t>(n);
}

void logActivity(bool fresh, uint32_t now, uint32_t maxAge, const QNRootDesc *desc, const char *target,
                 const char *usn)
{
    const char *format = "ev or serv %s:\tlastActive = %d, cacheControl = %d, ip = %08x, port = %d\r\n"
                         "\tst/nt = %s\r\n\tusn = %s\r\n";
    const char *what = fresh ? "accepted" : "updated";
    uint32_t ip = ntohl(desc->hostAddr);
    int port = ntohs(desc->hostPort);
    debugPrintf(LOG_SSDP, LOG_DETAIL, (std::string("D") + format).c_str(), what, static_cast<int>(now),
                static_cast<int>(maxAge), ip, port, target, usn);
    consolePrint((std::string(" d") + format).c_str(), what, static_cast<int>(now), static_cast<int>(maxAge), ip,
                 port, target, usn);
}

int handleByebye(EntitySlot *cp, const char *nt, const char *usn)
{
    debugPrint(LOG_SSDP, "ssdp:byebye", LOG_DETAIL);
    ActivitySlot slot{};
    if (cp->desc == nullptr || findActivitySlot(cp->desc, nt, usn, &slot) != 0 || *slot.lastActive == 0)
        return 0;
    if (cp->cp.notifyApp && cp->cp.msgHandler(cp->self, MT_CP_BYEBYE, 0, nullptr) != 0) {
        consolePrint(" onByebye() error.\r\n");
        return -1;
    }
    *slot.lastActive = 0;
    *slot.cacheControl = 0;
    return 0;
}

// The rest of the handling of an announcement or search result, once the
// tracked description is there (or its download failed: then no record
// fits and the message is dropped).
int takeAlive(EntitySlot *cp, const HeardAlive &alive)
{
    const char *target = alive.target;
    const char *usn = alive.usn;
    ActivitySlot slot{};
    if (findActivitySlot(cp->desc, target, usn, &slot) != 0) {
        debugPrint(LOG_SSDP, "!last active", LOG_DETAIL);
        discardTracked(cp);
        return -1;
    }
    char locationText[QN_VAL_MAX_LEN];
    copyBounded(locationText, sizeof locationText, alive.location);
    if (cp->cp.notifyApp) {
        int answer = cp->cp.msgHandler(cp->self, MT_CP_ALIVE, 0, locationText);
        // The application may have removed this control point meanwhile.
        if (cp->kind != EK_CTRL_POINT || cp->desc == nullptr)
            return -1;
        if (answer != 0) {
            consolePrint(" onAlive() error!\r\n");
            debugPrint(LOG_SSDP, "User denied", LOG_NOTABLE);
            discardTracked(cp);
            return -1;
        }
        if (findActivitySlot(cp->desc, target, usn, &slot) != 0)
            return -1;
    }
    uint32_t now = ssdpNow();
    QNDevDesc &root = cp->desc->device;
    logActivity(*slot.lastActive == 0, now, alive.maxAge, cp->desc, target, usn);
    *slot.lastActive = now;
    *slot.cacheControl = alive.maxAge;
    if (root.lastActive == 0) {
        root.lastActive = now;
        root.cacheControl = alive.maxAge;
    }
    if (cp->cp.cpType == CPT_PLAIN) {
        cp->desc->hostAddr = 0;
        cp->desc->hostPort = 0;
    } else {
        cp->desc->hostAddr = alive.addr;
        cp->desc->hostPort = alive.port;
    }
    return 0;
}

} // namespace

bool parseLocation(const char *location, uint32_t *addr, uint16_t *port)
{
    if (location == nullptr || strncasecmp(location, "http://", 7) != 0)
        return false;
    char scheme[16], path[QN_VAL_MAX_LEN];
    return parseUrl(location, scheme, sizeof scheme, addr, port, path, sizeof path) == 0 && *addr != 0 &&
           *port != 0;
}

void expireCache(QNDevDesc *dev, uint32_t now)
{
    if (dev->lastActive != 0 && dev->lastActive + dev->cacheControl < now) {
        debugPrintf(LOG_SSDP, LOG_DETAIL, "Dev %08X expired", static_cast<unsigned>(reinterpret_cast<uintptr_t>(dev)));
        dev->lastActive = dev->cacheControl = 0;
    }
    for (int i = 0; i < dev->serviceCount; ++i) {
        QNServDesc *serv = dev->services[i];
        if (serv->extra1 != 0 && serv->extra1 + serv->extra2 < now) {
            debugPrintf(LOG_SSDP, LOG_DETAIL, "Serv %08X expired",
                        static_cast<unsigned>(reinterpret_cast<uintptr_t>(serv)));
            serv->extra1 = serv->extra2 = 0;
        }
    }
    for (int i = 0; i < dev->deviceCount; ++i)
        expireCache(dev->devices[i], now);
}

int findActivitySlot(QNRootDesc *desc, const char *target, const char *usn, ActivitySlot *out)
{
    QNDevDesc *root = &desc->device;
    if (std::strcmp(target, "upnp:rootdevice") == 0) {
        if (!usnFits(root->lastActive != 0, field(root, "UDN"), target, usn)) {
            debugPrint(LOG_SSDP, "Root cache control failed", LOG_DETAIL);
            return -1;
        }
        *out = {&root->lastActive, &root->cacheControl};
        return 0;
    }
    if (auto *dev = static_cast<QNDevDesc *>(findInDevice(root, target, "deviceType", FM_DEVICE))) {
        if (!usnFits(dev->lastActive != 0, field(dev, "UDN"), target, usn)) {
            debugPrint(LOG_SSDP, "Device cache control failed", LOG_DETAIL);
            return -1;
        }
        *out = {&dev->lastActive, &dev->cacheControl};
        return 0;
    }
    if (auto *serv = static_cast<QNServDesc *>(findInDevice(root, target, "serviceType", FM_SERVICE))) {
        auto *owner = static_cast<QNDevDesc *>(findInDevice(root, target, "serviceType", FM_SERVICE_OWNER));
        if (!usnFits(serv->extra1 != 0, field(owner, "UDN"), target, usn)) {
            debugPrint(LOG_SSDP, "Service cache control failed", LOG_DETAIL);
            return -1;
        }
        *out = {&serv->extra1, &serv->extra2};
        return 0;
    }
    if (std::strncmp(target, "uuid:", 5) == 0) {
        auto *dev = static_cast<QNDevDesc *>(findInDevice(root, target, "UDN", FM_DEVICE));
        if (dev == nullptr || std::strcmp(usn, target) != 0) {
            debugPrint(LOG_SSDP, "UUID cache control failed", LOG_DETAIL);
            return -1;
        }
        *out = {&dev->lastActive, &dev->cacheControl};
        return 0;
    }
    debugPrint(LOG_SSDP, "Unkown cache control failed", LOG_DETAIL);
    return -1;
}

bool tracksActive(QNRootDesc *desc, const char *target, const char *usn)
{
    if (desc == nullptr || desc->device.lastActive == 0 || target == nullptr || usn == nullptr)
        return false;
    ActivitySlot slot{};
    return findActivitySlot(desc, target, usn, &slot) == 0 && *slot.lastActive != 0;
}

void discardTracked(EntitySlot *cp)
{
    if (cp->desc == nullptr)
        return;
    // Nothing of the discarded device may remain: the next MT_CP_ALIVE, and
    // every query, must never show its type, UDN or manufacturer.
    freeDesc(cp->desc);
    *cp->desc = QNRootDesc{};
}

int cpHandleSsdp(MsgHandler *handler, bool isAnnouncement)
{
    EntitySlot *cp = entityOf(handler);
    HttpMsg *msg = handler->msg;
    if (cp == nullptr || msg == nullptr)
        return QN_ERR_ARG;
    // While the control point's description is being fetched, its messages
    // wait their turn.
    if (downloadDefers(cp, handler))
        return 0;
    if (cp->desc == nullptr && (cp->desc = new (std::nothrow) QNRootDesc{}) == nullptr)
        return QN_ERR_NOMEM;
    debugPrintf(LOG_SSDP, LOG_DETAIL, "Desc %08x:Root %08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(cp->desc)),
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(&cp->desc->device)));
    const char *target = findHeader(msg, isAnnouncement ? HH_NT : HH_ST);
    const char *usn = findHeader(msg, HH_USN);
    const char *location = findHeader(msg, HH_LOCATION);
    if (target == nullptr)
        return -1;
    if (isAnnouncement) {
        const char *nts = findHeader(msg, HH_NTS);
        if (nts == nullptr || (std::strcmp(nts, "ssdp:alive") != 0 && std::strcmp(nts, "ssdp:byebye") != 0))
            return -1;
        if (std::strcmp(nts, "ssdp:byebye") == 0)
            return usn != nullptr ? handleByebye(cp, target, usn) : -1;
    }
    uint32_t addr = 0;
    uint16_t port = 0;
    if (usn == nullptr || !parseLocation(location, &addr, &port))
        return -1;
    uint32_t maxAge = readMaxAge(findHeader(msg, HH_CACHE_CONTROL));
    if (maxAge == 0)
        return -1;
    HeardAlive alive{};
    copyBounded(alive.target, sizeof alive.target, target);
    copyBounded(alive.usn, sizeof alive.usn, usn);
    copyBounded(alive.location, sizeof alive.location, location);
    alive.maxAge = maxAge;
    alive.addr = addr;
    alive.port = port;
    QNDevDesc &root = cp->desc->device;
    // The rest waits for the description: the loop fetches it meanwhile.
    if (root.lastActive == 0 || root.fieldCount == 0) {
        downloadStart(cp, alive, cp->cp.cpType != CPT_PLAIN, takeAlive);
        return 0;
    }
    return takeAlive(cp, alive);
}
