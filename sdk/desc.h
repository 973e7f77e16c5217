// Device description model: a root device with its services and
// embedded devices as fixed-capacity records, the parser that fills it from
// a description document, the writers that turn it back into XML and the
// functions that release it. Internal to the stack.
//
// Ownership: a QNRootDesc belongs to its entity or to the caller that parses
// into it. Every record reached through a pointer slot is allocated by the
// parser (zero-filled, with new) and released only by the free functions;
// the QNScpd of a service is allocated by its downloader with newScpd
// (scpd.h). Results: 0, -1 (a wrong child name, a second serviceList or
// deviceList, a syntax failure), QN_ERR_NOMEM (allocation failure or more
// containers than the capacities of qnLimits.h allow), -500 (document
// element missing or misnamed, an unexpected container, or any failure
// below parseDesc), QN_ERR_ARG (absent arguments).
#pragma once

#include "qnLimits.h"
#include "xml.h"

#include <cstdint>

struct QNScpd;

struct QNServDesc {
    QNScpd *scpd;          // owned; null until the service's SCPD is parsed
    uint32_t extra1;       // control point: lastActive; zero when parsed
    uint32_t extra2;       // control point: cacheControl
    uint16_t fieldCount;   // at most kMaxFields
    QNNameVal fields[kMaxFields]; // the leaf children of service, in order
};

// One icon of a device's iconList: its leaves in document order.
struct QNIconDesc {
    uint16_t fieldCount;             // at most kIconFields
    QNNameVal fields[kIconFields];
};

struct QNDevDesc {
    uint16_t serviceCount;                     // at most kMaxServices
    QNServDesc *services[kMaxServices];        // owned
    uint16_t deviceCount;                      // at most kMaxEmbeddedDevices
    QNDevDesc *devices[kMaxEmbeddedDevices];   // owned, any depth
    void *link1;                               // for the layers above
    void *link2;
    uint16_t fieldCount;                       // at most kMaxFields
    QNNameVal fields[kMaxFields];              // the leaf children of device, in order
    uint32_t lastActive;                       // control point: last announcement (s), 0 = none
    uint32_t cacheControl;                     // control point: its max-age (s)
    uint16_t iconCount;                        // at most kMaxIcons
    QNIconDesc *icons[kMaxIcons];              // owned; kept for the queries, not written
};

struct QNRootDesc {
    QNNameVal specVersion[2]; // the first two leaves of specVersion
    QNNameVal urlBase;        // the first leaf child of root; empty without one
    QNDevDesc device;         // the root device
    uint32_t hostAddr;        // network byte order; set by discovery
    uint16_t hostPort;        // network byte order
    // Namespaces of the prefixed leaves of the description (name = prefix,
    // val = URI), remembered by parseDesc from the document's declarations
    // and declared by writeDesc on its root element.
    uint16_t nsCount;
    QNNameVal ns[kMaxDescNamespaces];
};

// Namespace of a written description's root element (UDA 1.0, 2.1).
inline constexpr char kDeviceNamespace[] = "urn:schemas-upnp-org:device-1-0";

// The description document kind: parseDesc / writeDesc on a QNRootDesc.
extern const QNTextDoc kDescDocKind;

// Parses a description document at doc->pos into root. On success the
// document's text is replaced by the normalised description (writeDesc),
// bounded by doc->size; with doc->size 0 the text is left as it was.
int parseDesc(QNTextDoc *doc, QNRootDesc *root);
// pos at the content start of a device element; dev->fieldCount holds the
// field capacity (at most kMaxFields).
int parseDevice(QNTextDoc *doc, QNDevDesc *dev);

// Writes the normalised description: declaration line, then
// <root xmlns="urn:schemas-upnp-org:device-1-0" [xmlns:p="..."]> with
// specVersion, URLBase when present and the root device (each when it has
// something to write). 0, or
// QN_ERR_NOMEM when the output filled doc->size (it was cut).
int writeDesc(QNTextDoc *doc, const QNRootDesc *root);
// Fragment writers. Without the root's namespaces they leave prefixed
// leaves out (writeDesc passes them on). A record with nothing to write
// (no leaf an XML name can carry, no such service or device below it) is
// left out: an element without children would read back as a text leaf.
int writeDevice(QNTextDoc *doc, const QNDevDesc *dev, int depth);
int writeService(QNTextDoc *doc, const QNServDesc *serv, int depth);

// freeDesc empties root (the record itself stays); freeDevice and
// freeService release the record with everything it owns.
int freeDesc(QNRootDesc *root);
int freeDevice(QNDevDesc *dev);
int freeService(QNServDesc *serv);

// A service's SCPD as its loaders (local files, the read-file handler,
// downloads, the generator) attach it: attachNewScpd gives the service a
// new, empty record (nullptr and " could not alloc mem" when memory is
// short); parseAttachedScpd parses len bytes of text into it and, when the
// parse fails, prints " parseScpd() error: %d" and releases the record
// again; releaseScpd frees and detaches it.
QNScpd *attachNewScpd(QNServDesc *serv);
int parseAttachedScpd(QNServDesc *serv, char *text, uint32_t len);
void releaseScpd(QNServDesc *serv);
