// SSDP (UDA 1.0, chapter 1): announcements and search answers of devices,
// the search of control points, and the checks every received datagram
// passes before a role handles it.
#pragma once

#include "entity.h"
#include "query.h"
#include "text.h"

enum SsdpKind : int {
    SK_SEARCH = 0,    // M-SEARCH request (control point)
    SK_RESPONSE = 1,  // search response (device, unicast)
    SK_ALIVE = 2,     // NOTIFY ssdp:alive
    SK_BYEBYE = 3,    // NOTIFY ssdp:byebye
};

enum SsdpLevel : int {
    SL_ROOT = 0,
    SL_EMBEDDED = 1,
    SL_SERVICE = 2,
};

inline constexpr char kSsdpGroup[] = "239.255.255.250";
inline constexpr uint16_t kSsdpPort = 1900;
inline constexpr char kSsdpHost[] = "239.255.255.250:1900";
inline constexpr char kSsdpServerHeader[] = "Corvanta UPnP Server, UPnP/1.0";
// Room for one written SSDP message.
inline constexpr int kSsdpMsgMax = 4096;

// Writes one SSDP message of a kind into buf (size bytes); returns its length.
int ssdpWrite(char *buf, int size, int kind, const char *location, const char *target, const char *usn);

// Builds and sends one message on sock, to addr:port (the group for
// multicast kinds). 0, QN_ERR_ARG, or the socket layer's error.
int ssdpSend(const SockInfo *sock, int kind, int level, const char *location, const char *target,
             const char *usn, const char *addr, uint16_t port);

// The targets one device (not its embedded devices) announces and answers
// ssdp:all with, in order: upnp:rootdevice (the root device only, level
// SL_ROOT), its UDN and its device type (both at level), each service type
// (SL_SERVICE). send(level, target, usn) is called for each; -1 when the
// device names no UDN or type.
template <typename Send> int forEachDeviceTarget(const QNDevDesc *dev, int level, Send send)
{
    const char *udn = findNameVal(dev->fields, dev->fieldCount, "UDN");
    const char *type = findNameVal(dev->fields, dev->fieldCount, "deviceType");
    if (udn == nullptr || type == nullptr)
        return -1;
    char usn[QN_VAL_MAX_LEN];
    if (level == SL_ROOT) {
        strBuild(usn, sizeof usn, "s", udn, "s", "::upnp:rootdevice", "");
        send(SL_ROOT, "upnp:rootdevice", usn);
    }
    send(level, udn, udn);
    strBuild(usn, sizeof usn, "s", udn, "s", "::", "s", type, "");
    send(level, type, usn);
    for (int i = 0; i < dev->serviceCount; ++i) {
        const QNServDesc *serv = dev->services[i];
        const char *stype = findNameVal(serv->fields, serv->fieldCount, "serviceType");
        if (stype == nullptr)
            continue;
        strBuild(usn, sizeof usn, "s", udn, "s", "::", "s", stype, "");
        send(SL_SERVICE, stype, usn);
    }
    return 0;
}

// One announcement pass over a device and its embedded devices.
int advertiseDevice(const SockInfo *sock, int kind, int level, const char *location, const QNDevDesc *dev);

// One immediate pass (alive or byebye by announceAlive) without touching the
// periodic schedule.
int advertiseOnce(MsgHandler *handler);

int ssdpFilter(MsgHandler *handler, HttpMsg *msg);
int ssdpDispatch(MsgHandler *handler);
int devHandleSearch(MsgHandler *handler);

// Seconds of the monotonic clock; used only as differences.
uint32_t ssdpNow();
