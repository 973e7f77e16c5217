// Every capacity of the stack's internal tables and buffers, in one place.
// The public limits (names, values, arguments, entities) are in qnSdkApi.h.
#pragma once

#include "qnSdkApi.h"

#include <cstddef>

// One formatted log or console line that is built on the stack. Longer
// console texts (whole messages) are formatted on the heap instead.
inline constexpr size_t kLogLineMax = 1024;

// Server tables. Every entity of the table, of any kind, must be able to register every
// handler: a control point has five handlers, a device four; a control point
// takes up to three socket slots of its own (two socketless records and its
// event listener), a device two (control and file service), plus the two
// shared SSDP sockets.
inline constexpr int kMaxHandlers = QN_MAX_ENTITY * 5 + 8;
inline constexpr int kMaxSockets = QN_MAX_ENTITY * 3 + 8;
inline constexpr int kMaxTimers = QN_MAX_ENTITY * 2 + 8;

// A message buffer holds one whole message: headers and a body of up to
// 64 KiB (a large SCPD or SOAP body), plus the terminator.
inline constexpr size_t kMaxDocument = 64 * 1024;
inline constexpr size_t kMsgBufSize = kMaxDocument + 8 * 1024;

// HTTP message record.
inline constexpr int kMaxHeaders = 10;
// One written line of a message: the longest target or header value with
// the method or header name, the version and the line end around it.
inline constexpr size_t kHttpLineMax = QN_VAL_MAX_LEN + 64;

// Receive buffer of the SSDP sockets: room for the bursts of a network of
// a hundred devices (a datagram takes about 1 KiB of buffer on loopback).
inline constexpr int kSsdpReceiveBuffer = 2 * 1024 * 1024;

// Waits of the socket layer and the server loop.
inline constexpr int kPollWaitMs = 200;        // longest idle wait of the loop
inline constexpr int kPausedWaitMs = 50;       // loop sleep while the server is paused
inline constexpr int kClientWaitUs = 300000;   // default wait of a client read
inline constexpr int kFirstByteWaitMs = 1500;  // an accepted connection must speak by then
inline constexpr int kRequestWaitMs = 4000;    // and have sent its whole request by then
inline constexpr int kAnswerWaitMs = 5000;     // a peer must take our whole answer by then
inline constexpr int kLingerWaitMs = 250;      // after the answer, for the peer to close its side
inline constexpr int kSendWaitMs = 5000;       // a peer that does not read is dropped
inline constexpr int kConnectWaitMs = 3000;    // longest wait for an outgoing connect

// Accepted connections the loop serves at once. When the table is full the
// connection that has waited longest for its request gives way.
inline constexpr int kMaxConnections = 512;
// Work per ready socket and pass of the loop, so that every socket gets
// its turn: connections accepted, datagrams read.
inline constexpr int kAcceptBatch = 16;
inline constexpr int kDatagramBatch = 4;
// accept() failing for lack of descriptors: the listener rests this long.
inline constexpr int kAcceptBackoffMs = 100;
// An answer a role writes is kept until the peer takes it: the largest
// served document and a buffer more. A file the application delivers in
// chunks is asked for again once less than kRefillBelow bytes wait.
inline constexpr size_t kMaxQueuedAnswer = 8 * kMaxDocument + kMsgBufSize;
inline constexpr size_t kRefillBelow = 64 * 1024;
// Outgoing exchanges the loop runs at once (event deliveries, description
// downloads); more wait their turn.
inline constexpr int kMaxExchanges = 64;
// A description or SCPD download: the whole exchange, connect included.
inline constexpr int kDownloadWaitMs = 5000;
// SSDP messages a control point keeps while its description is fetched,
// each at most kDeferredSsdpMax bytes; later ones are dropped.
inline constexpr int kMaxDeferredSsdp = 256;
inline constexpr size_t kDeferredSsdpMax = 4096;

// The console from the server thread: lines written while the stack lock is
// held are kept (up to kConsoleDeferMax bytes) and written after it is
// released, at most kConsoleLinesPerSecond of them.
inline constexpr size_t kConsoleDeferMax = 64 * 1024;
inline constexpr int kConsoleLinesPerSecond = 1000;
// A refused request is logged with this many characters of its start.
inline constexpr size_t kRequestShownMax = 48;

// ---- Description model ------------------------------------------------------
// Fixed-capacity records, sized for real devices: surplus text
// leaves are dropped, surplus containers fail the parse with QN_ERR_NOMEM.
// Arguments per action stay QN_ARG_MAX_NUM.
inline constexpr int kMaxServices = 16;        // services per device
inline constexpr int kMaxEmbeddedDevices = 16; // embedded devices per device
inline constexpr int kMaxFields = 32;          // leaf fields per device or service
inline constexpr int kMaxActions = 64;         // actions per SCPD
inline constexpr int kMaxStateVars = 128;      // state variables per SCPD
inline constexpr int kMaxAllowedValues = 64;   // allowed values per state variable
inline constexpr int kMaxIcons = 8;            // icons kept per device; more are dropped
inline constexpr int kIconFields = 8;          // leaves per icon (mimetype, width, height, depth, url)
// Namespace prefixes of prefixed description leaves (dlna:X_DLNADOC) that a
// parsed description remembers so that its written form declares them.
inline constexpr int kMaxDescNamespaces = 8;

// Container slots of the elements whose children are not records of the
// model: root and specVersion of a description, scpd and its specVersion,
// and device (iconList, serviceList, deviceList and one spare).
inline constexpr int kRootContainerSlots = 10;
inline constexpr int kScpdContainerSlots = 20;
inline constexpr int kDeviceContainerSlots = 4;

// Deepest element nesting the XML element reader accepts, counting the
// element it is asked to read as level 1. The reader recurses (or stacks)
// once per level; a hostile document of 64 KiB nested elements must not
// exhaust a 64 KiB thread stack.
inline constexpr int kMaxXmlDepth = 32;

// ---- File service -------------------------------------------------------------
// A served description or SCPD is written whole: the first buffer holds any
// document read within kMaxDocument with room for what writing adds
// (escapes, namespaces, rewritten URLs); a larger one is written again into
// a buffer twice the size, up to kMaxServedDoc.
inline constexpr size_t kServedDocSize = kMaxDocument + 16 * 1024;
inline constexpr size_t kMaxServedDoc = 8 * kMaxDocument;
// Capacity of the buffer an application fills per MT_READ_FILE call when
// the file service asks it for a file.
inline constexpr int32_t kFileChunkSize = 16 * 1024;

// ---- SOAP control and GENA eventing -------------------------------------------
// Names and values are escaped where they are written: a character grows to
// at most five ("&amp;", "&#13;") in element content and six ("&quot;") in
// an attribute value.
inline constexpr size_t kContentEscapeGrowth = 5;
inline constexpr size_t kAttrEscapeGrowth = 6;
// One escaped pair of an envelope or event: <name>value</name>, a line end
// and, in an event, the property element around it.
inline constexpr size_t kSoapPairText =
    (2 * (QN_NAME_MAX_LEN - 1) + (QN_VAL_MAX_LEN - 1)) * kContentEscapeGrowth + 64;
// A whole body: the fixed envelope text, the action name twice, the service
// type in an attribute and sixteen pairs. Request bodies, device answers and
// event bodies are built whole in a heap buffer of this size, so that no
// record is ever cut (about 66 KiB; with its headers a request still fits
// the buffer a device reads it into).
inline constexpr size_t kSoapBodyMax = 1024 + 2 * QN_NAME_MAX_LEN * kContentEscapeGrowth +
                                       QN_VAL_MAX_LEN * kAttrEscapeGrowth + QN_ARG_MAX_NUM * kSoapPairText;
static_assert(kSoapBodyMax + 1024 < kMsgBufSize, "a whole request must fit a socket buffer");
// A control point reads an answer of headers and a body of up to 64 KiB.
inline constexpr size_t kSoapAnswerMax = kMsgBufSize;

// Waits of a control point's exchanges: the read time-out for an answer to
// a request sent to an absolute URL, and to one sent to the device's
// recorded address (SOAP, subscription).
inline constexpr int kSoapAbsoluteWaitUs = 5000000;
inline constexpr int kSoapRelativeWaitUs = 2000000;
inline constexpr int kGenaAbsoluteWaitUs = 5000000;
inline constexpr int kGenaRelativeWaitUs = 6000000;

// Device subscriptions: one table for every device of the process.
inline constexpr int kMaxSubscriptions = 256;
// "uuid:" and a version 4 UUID of 36 characters, and the terminator.
inline constexpr size_t kSidSize = 5 + 36 + 1;
// A subscription lasts at least this long, and at most a day: a peer must
// not hold a slot of the shared table for years ("infinite" is granted as
// the day). The answer names the time granted.
inline constexpr int kMinSubscriptionSeconds = 1801;
inline constexpr int kMaxSubscriptionSeconds = 24 * 60 * 60;
// Subscriptions one subscriber address may hold at once, of the table's
// kMaxSubscriptions: one host must not take the table from the others.
inline constexpr int kMaxSubscriptionsPerSubscriber = 32;
// Delivery URLs a subscription may name (UDA 1.0, 4.1.1 allows several);
// each one that does not answer costs a connection attempt per event.
inline constexpr int kMaxCallbackUrls = 4;
// Events are queued and delivered by the server loop: a subscriber that
// does not accept the connection within kNotifyConnectWaitMs is passed over
// for the next URL; one delivery (connect, request, the answer's head) takes
// at most kNotifyWaitMs. A subscription keeps at most kMaxQueuedEvents
// events waiting and is dropped after kMaxDeliveryFailures failed
// deliveries in a row.
inline constexpr int kNotifyConnectWaitMs = 1000;
inline constexpr int kNotifyWaitMs = 5000;
inline constexpr uint32_t kNotifyAnswerMax = 4096; // a subscriber's answer to a NOTIFY
inline constexpr int kMaxQueuedEvents = 32;
inline constexpr int kMaxDeliveryFailures = 3;
// Subscriptions a control point process remembers to route incoming events
// to the control point that made them: a few services for every control
// point the table holds (an explorer subscribes per device it tracks).
inline constexpr int kMaxCpSubscriptions = QN_MAX_ENTITY * 4;
// Events whose SID is not known yet, held while a subscription of the same
// listener waits for its answer, and for how long at most.
inline constexpr int kMaxHeldEvents = 4;
inline constexpr int kHeldEventMs = 3000;
