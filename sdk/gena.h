// GENA eventing, device side: the subscription table that every device of
// the process shares, the handling of SUBSCRIBE and UNSUBSCRIBE, and the
// event sender. Everything here runs under stackLock().
#pragma once

#include "entity.h"
#include "qnLimits.h"

#include <cstdint>

// One subscription. A slot is live while id is non-zero and the current
// time (seconds of the steady clock) is below expiry.
struct Subscription {
    uint32_t id;                        // 0: never used or released
    uint32_t expiry;                    // kNeverExpires: never
    QN_DEVICE device;                   // the device entity it belongs to
    const QNServDesc *service;          // a service of that device's model
    uint8_t callbackCount;              // delivery URLs read from callbacks
    uint32_t subscriber;                // address the SUBSCRIBE came from (network byte order)
    char callbacks[QN_VAL_MAX_LEN];     // the Callback header as it came
    uint32_t seq;                       // sequence number of the next event
    char sid[kSidSize];                 // "uuid:" and a random version 4 UUID
    uint8_t failures;                   // deliveries failed in a row
};

inline constexpr uint32_t kNeverExpires = 0xFFFFFFFFu;

// The table (tests look into it).
Subscription *subscriptionTable();
// Seconds of the steady clock, the time base of expiry.
uint32_t genaNow();
bool subscriptionLive(const Subscription &sub, uint32_t now);

// The live subscription whose SID is exactly sid, of the given device, or
// nullptr.
Subscription *findSubscription(QN_DEVICE device, const char *sid);

// A new SID: "uuid:" and a random version 4 UUID (RFC 4122, 4.4) from the
// kernel's random source. False (out empty) when size is below kSidSize or
// no random bytes could be had.
bool makeSid(char *out, size_t size);

// One delivery URL of a Callback text.
struct CallbackUrl {
    uint32_t addr;                  // network byte order
    uint16_t port;                  // host byte order; 80 when the URL names none
    char path[QN_VAL_MAX_LEN];      // "/" when the URL names none
};

enum CallbackRead : int {
    CB_URL = 0,   // a URL was read
    CB_END = 1,   // nothing but blanks is left
    CB_BAD = -1,  // what follows is not a URL as UDA 1.0 (4.1.1) writes it
};

// Reads the URL at or after *pos of a Callback text: "<http://a.b.c.d[:port][/path]>",
// blanks allowed between URLs. The host must be a dotted address (names
// are not resolved); the port, when given, 1 to 65535. An empty URL, one
// without its ">", of another scheme, with blanks inside, or longer than
// a path can hold is CB_BAD. On CB_URL *pos is past the ">".
CallbackRead readCallbackUrl(const char *text, size_t *pos, CallbackUrl *url);
// The same, true only for CB_URL (delivery reads texts checked before).
bool nextCallbackUrl(const char *text, size_t *pos, CallbackUrl *url);
// The number of URLs of a Callback text that a subscription may keep: 1 to
// kMaxCallbackUrls, every one of them read and naming the address source
// (network byte order; a subscription must not turn the device against a
// stranger). -1 otherwise.
int checkCallbacks(const char *text, uint32_t source);

// Handles a SUBSCRIBE or UNSUBSCRIBE on a device's control server: 0 when
// it answered, -1 when the request is not this device's.
int genaSubscribeRequest(MsgHandler *handler);

// Queues the current values of the service's evented variables (asked from
// the device's handler) for one subscription: the initial event. It goes
// out once the connection being served (servingConn) has ended, so that it
// never overtakes the answer to the SUBSCRIBE. 0, or -1 when nothing was
// queued.
int notifySubscriber(QN_DEVICE device, const char *sid, const QNServDesc *service);

// Drops the events a control point holds for a subscription in flight
// (qnSdkClean: no handler is called after it).
void genaForgetHeldEvents();

// Queues a built event body for one subscription with its next sequence
// number; the server loop delivers it, trying the delivery URLs in order,
// after the events queued before it for that subscription. Not before the
// accepted connection afterConn has ended (0: at once). True when queued:
// the subscription has a URL to deliver to and room in its queue. A
// subscription whose deliveries fail kMaxDeliveryFailures times in a row,
// or whose queue overflows as often, is dropped.
bool queueEvent(Subscription &sub, const char *body, uint32_t bodyLen, uint64_t afterConn);

// Forgets every event waiting for delivery (qnSdkClean).
void genaDropQueued();
