// SSDP (UDA 1.0, chapter 1): announcements and search answers of devices,
// the search of control points, and the checks every received datagram
// passes before a role handles it.
#pragma once

#include "entity.h"

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

// Writes one SSDP message of a kind into buf (size bytes); returns its length.
int ssdpWrite(char *buf, int size, int kind, const char *location, const char *target, const char *usn);

// Builds and sends one message on sock, to addr:port (the group for
// multicast kinds). 0, QN_ERR_ARG, or the socket layer's error.
int ssdpSend(const SockInfo *sock, int kind, int level, const char *location, const char *target,
             const char *usn, const char *addr, uint16_t port);

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
