// Lookups in the description model that the protocol roles use to route
// requests by path, and the helpers behind the public queries (qnGetDevList
// and the others, declared in qnSdkApi.h).
//
// Every search runs depth first: a device's own fields, then its services in
// order, then each embedded device with its whole subtree. Comparisons are
// exact and case-sensitive, so a path that differs from the description's
// text only by a leading slash finds nothing. Nothing here allocates or
// changes the model; callers hold stackLock() while they use the results.
#pragma once

#include "desc.h"
#include "scpd.h"

// What findInDevice returns for a match.
enum FindMode : int {
    FM_DEVICE = 0,         // a device by its own field; returns the QNDevDesc
    FM_SERVICE_OWNER = 1,  // a service by its field; returns the QNDevDesc holding it
    FM_SERVICE = 2,        // returns the QNServDesc
    FM_SCPD = 3,           // returns its QNScpd (nullptr while not parsed)
};

// Searches from dev for the first node whose field fieldName has exactly
// value. An empty or absent value or fieldName, or a mode outside 0 to 3,
// finds nothing. In mode 3 the search ends at the first matching service
// even when its SCPD is not parsed.
void *findInDevice(QNDevDesc *dev, const char *value, const char *fieldName, int mode);

// Typed forms of findInDevice.
QNDevDesc *findDeviceByType(QNDevDesc *dev, const char *deviceType);
QNServDesc *findServiceByType(QNDevDesc *dev, const char *serviceType);

// The parsed SCPD of the service whose controlURL, eventSubURL or SCPDURL
// is exactly path, or nullptr.
QNScpd *getScpdByControlUrl(QNDevDesc *dev, const char *path);
QNScpd *getScpdByEventSubUrl(QNDevDesc *dev, const char *path);
QNScpd *getScpdByScpdUrl(QNDevDesc *dev, const char *path);

// 0 when the first service of that type has a parsed SCPD, otherwise -1.
int checkServiceType(QNDevDesc *dev, const char *serviceType);

// The first action whose name is exactly name: in one SCPD, or over every
// parsed SCPD of dev's services in order and then its embedded devices.
QNActionDesc *findActionInScpd(QNScpd *scpd, const char *name);
QNActionDesc *findActionInDevice(QNDevDesc *dev, const char *name);

// Direction code of an argument's direction text: AD_IN, AD_OUT, AD_INOUT
// for exactly "in", "out", "inout"; AD_UNKNOWN for anything else.
int32_t argDirectionCode(const char *direction);
