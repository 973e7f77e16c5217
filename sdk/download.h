// The control point's HTTP client for descriptions and SCPDs. A download
// never waits on the server thread: it runs as outgoing exchanges of the
// loop (exchange.h), and while it runs the control point's SSDP messages
// wait their turn, so that they are handled in the order they came.
#pragma once

#include "entity.h"

// What an SSDP message told a control point about its device, kept while
// the description is fetched.
struct HeardAlive {
    char target[QN_VAL_MAX_LEN];   // Nt or St
    char usn[QN_VAL_MAX_LEN];
    char location[QN_VAL_MAX_LEN];
    uint32_t maxAge;
    uint32_t addr;                 // network byte order
    uint16_t port;                 // network byte order
};

// The rest of the handling of the message, once the download has ended
// (also when it failed: the tracked description is then empty).
using AliveFinish = int (*)(EntitySlot *cp, const HeardAlive &alive);

// Starts fetching the description at alive.location into the control
// point's tracked description (cp->desc, which must exist), with every
// SCPD when withScpds; then calls finish under the stack lock. A failed
// download or parse leaves nothing of what was there before (nor half of
// the new document). Call under the stack lock.
void downloadStart(EntitySlot *cp, const HeardAlive &alive, bool withScpds, AliveFinish finish);

// While a download of cp runs, and until the messages that waited for it
// are handled (one per pass of the loop), keeps the SSDP message handler
// is handling (at most kMaxDeferredSsdp, each at most kDeferredSsdpMax
// bytes; more are dropped) to be handled in its turn. True when the message
// is taken so.
bool downloadDefers(EntitySlot *cp, MsgHandler *handler);

// True while a download of the control point runs.
bool downloadBusy(QN_CONTROL_POINT cp);

// Ends the control point's download, if any, and drops its waiting
// messages (the control point is being removed).
void downloadForget(QN_CONTROL_POINT cp);
