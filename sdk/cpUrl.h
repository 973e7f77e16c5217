// Where a control point sends a request for a URL of its tracked
// description (SCPDURL, controlURL, eventSubURL).
#pragma once

#include "entity.h"

#include <cstdint>

struct RemoteTarget {
    uint32_t addr;                   // network byte order
    uint16_t port;                   // network byte order
    char path[QN_VAL_MAX_LEN];       // request target, always an absolute path
    char host[QN_NAME_MAX_LEN];      // Host header value: the host and port connected to
};

// Resolves url as UDA 1.0 asks: an absolute http URL stands for itself; an
// absolute path goes to the device's recorded address; anything else is
// relative to URLBase when the description has one, else to the
// description's own Location (the control point's descFile once
// downloaded). The URL must name the description's own host (its recorded
// device address, else the host of descFile) by its address. Returns 0, or
// -1 when no address can be found or the URL names another host.
int resolveRemoteUrl(const EntitySlot *cp, const char *url, RemoteTarget *out);

// Joins a relative reference onto a base URL (RFC 3986, the common cases:
// "/abs", "rel", "../rel", "?q"); absolute http URLs are returned unchanged.
// The result is cut to outSize - 1.
void joinUrl(const char *base, const char *ref, char *out, int outSize);
