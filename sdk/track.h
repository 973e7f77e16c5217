// A control point's tracking of the root device it hears of: the first
// description download, the activity of every device and service record,
// byebye and expiry, and the application's say through MT_CP_ALIVE.
#pragma once

#include "entity.h"

// The (lastActive, cacheControl) pair of one device or service record.
struct ActivitySlot {
    uint32_t *lastActive;
    uint32_t *cacheControl;
};

int cpHandleSsdp(MsgHandler *handler, bool isAnnouncement);
int findActivitySlot(QNRootDesc *desc, const char *target, const char *usn, ActivitySlot *out);
void expireCache(QNDevDesc *dev, uint32_t now);
// True when the tracked description has an active record for (target, usn).
bool tracksActive(QNRootDesc *desc, const char *target, const char *usn);
// Frees every record below the root and clears the root's activity and the
// recorded device address.
void discardTracked(EntitySlot *cp);
// Parses a Location as a control point accepts it: an http URL whose host
// is a dotted IPv4 address (names are never looked up) and whose port is
// not 0. Address and port in network order.
bool parseLocation(const char *location, uint32_t *addr, uint16_t *port);
