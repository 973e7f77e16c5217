// What the device's control and eventing roles check on every request:
// which device entity a handler serves, whether the Host header names the
// device, and which service a request target addresses.
#pragma once

#include "entity.h"

// The device entity of a handler whose request is a parsed message over
// its socket's buffer, or nullptr.
EntitySlot *requestDevice(MsgHandler *handler);

// The device's own authority as its description URL names it: dotted
// address and ":" and soapPort (the port left out when it is 80).
void deviceAuthority(const EntitySlot *slot, char *out, size_t outSize);

// True when host names the device's address and soapPort (the port may be
// left out when it is 80, or written). Otherwise prints " host = %s,
// val = %s" (the authority and the header) on the console.
bool hostNamesDevice(const EntitySlot *slot, const char *host);

// The service whose urlField (controlURL, eventSubURL) is the request
// target: written exactly so, or, for a relative URL, as a control point
// resolves it against the description URL (UDA 1.0, 2.1).
QNServDesc *serviceAtPath(EntitySlot *slot, const char *urlField, const char *target);

// The service type of a service record, or "".
const char *serviceTypeOf(const QNServDesc *serv);

// True while the handler still belongs to this device and the connection
// it is answering is still the one it was given: the application's handler
// may have removed the device, or the server may have closed the socket.
struct RequestGuard {
    MsgHandler *handler;
    EntitySlot *slot;
    HttpMsg *msg;
    SockInfo *sock;
    char *data;

    explicit RequestGuard(MsgHandler *h);
    bool alive() const;
};
