// SCPD model: the actions, arguments and state variables of one
// service as fixed-capacity records, the parser that fills them from an
// SCPD document, the writers and the release function. Internal.
//
// Ownership: a QNScpd is allocated by the owner of its service with newScpd
// and released with freeScpd and deleteScpd (freeService does both). The
// records in its slots are allocated by the parser, zero-filled; a slot that
// already holds a record (a model parsed before and not freed) is reused,
// so that parsing again into a model allocates nothing. Results as in
// desc.h; parseScpd turns every failure into -500.
#pragma once

#include "qnLimits.h"
#include "xml.h"

#include <cstdint>

// One argument: its name, direction, relatedStateVariable and dataType
// leaves, each taken by its name in any order (a field not present is
// empty). Other leaves, such as retval, are not kept.
struct QNArgDesc {
    QNNameVal name;
    QNNameVal direction;
    QNNameVal relatedStateVariable;
    QNNameVal dataType;
};

struct QNActionDesc {
    QNNameVal name;                      // first leaf child, normally name
    uint16_t argCount;                   // at most QN_ARG_MAX_NUM
    QNArgDesc *args[QN_ARG_MAX_NUM];     // owned
};

enum AllowedKind : uint16_t {
    AK_LIST = 0,  // allowedValueList
    AK_RANGE = 1, // allowedValueRange
};

struct QNAllowedVals {
    uint16_t count;                         // at most kMaxAllowedValues
    uint16_t kind;                          // AllowedKind
    QNNameVal values[kMaxAllowedValues];    // leaf children, in order
};

struct QNVarDesc {
    QNNameVal name;          // first leaf child
    QNNameVal dataType;      // second leaf child
    QNAllowedVals *allowed;  // owned; null without allowed values
    uint8_t sendEvents;      // 1 yes, 0 no
    QNNameVal defaultValue;  // the defaultValue leaf wherever it stands; empty without one
};

struct QNScpd {
    QNNameVal specVersion[2];
    uint16_t actionCount;                 // at most kMaxActions
    QNActionDesc *actions[kMaxActions];   // owned
    uint16_t varCount;                    // at most kMaxStateVars
    QNVarDesc *vars[kMaxStateVars];       // owned
};

// Namespace of a written SCPD's root element (UDA 1.0, 2.3).
inline constexpr char kServiceNamespace[] = "urn:schemas-upnp-org:service-1-0";

// The SCPD document kind: parseScpd / writeScpd on a QNScpd.
extern const QNTextDoc kScpdDocKind;

// A zero-filled QNScpd, or nullptr when memory is short; and its release
// (after freeScpd).
QNScpd *newScpd();
void deleteScpd(QNScpd *scpd);

// Parses an SCPD document at doc->pos into scpd; the text stays as it was.
int parseScpd(QNTextDoc *doc, QNScpd *scpd);
// Each with pos at the content start of its element.
int parseActionList(QNTextDoc *doc, QNScpd *scpd);
int parseAction(QNTextDoc *doc, QNActionDesc *action);
int parseArgList(QNTextDoc *doc, QNActionDesc *action);
int parseArg(QNTextDoc *doc, QNArgDesc *arg);
int parseStateTable(QNTextDoc *doc, QNScpd *scpd);
// name and dataType are the first two leaves; the allowed values are the
// first allowedValueList or allowedValueRange after any further leaves;
// defaultValue is the first leaf of that name among all the children (real
// SCPDs put it before or after the allowed values).
int parseStateVar(QNTextDoc *doc, QNVarDesc *var);

// Writes <scpd xmlns="urn:schemas-upnp-org:service-1-0"> with specVersion,
// actionList and serviceStateTable (both also when empty). Every variable
// says sendEvents="yes" or "no": UDA 1.0 defaults a missing attribute to
// "yes", but some control points (GUPnP) read it as "no" and would never
// subscribe. A variable's leaves are written in UDA order: name, dataType,
// defaultValue (when it has one), then the allowed values. An argument,
// action or variable with nothing to write is left out (an element without
// children would read back as a text leaf). 0, or QN_ERR_NOMEM when the
// output filled doc->size.
int writeScpd(QNTextDoc *doc, const QNScpd *scpd);
int writeActionList(QNTextDoc *doc, const QNScpd *scpd, int depth);
int writeAction(QNTextDoc *doc, const QNActionDesc *action, int depth);
int writeArg(QNTextDoc *doc, const QNArgDesc *arg, int depth);
int writeStateTable(QNTextDoc *doc, const QNScpd *scpd, int depth);
int writeStateVar(QNTextDoc *doc, const QNVarDesc *var, int depth);

// Releases every action, argument, variable and allowed-value record and
// sets the counts to 0; the QNScpd itself stays.
int freeScpd(QNScpd *scpd);
