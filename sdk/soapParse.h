// SOAP envelope, fault and property-set parsing: parseSoap
// turns every XML body the stack receives other than descriptions into a
// QNApiAction record; writeSoap writes a record back as XML.
#pragma once

#include "xml.h"

// The SOAP document kind: parseSoap / writeSoap on a QNApiAction.
extern const QNTextDoc kSoapDocKind;

// An action record whose action name is this is written by writeSoap as a
// GENA property set (parseSoap leaves the name of a property set's record
// as it was, so a caller that wants one sets it).
inline constexpr char kPropertySetName[] = "propertyset";
// Namespace of GENA property sets (UDA 1.0, 4.2).
inline constexpr char kEventNamespace[] = "urn:schemas-upnp-org:event-1-0";

// Reads the document at doc->pos:
// - an Envelope (any prefix): action = the local name of Body's first child
//   (the action, its response, QueryStateVariable or Fault), argNV = its
//   leaf children as written (prefix included), at most QN_ARG_MAX_NUM; for
//   a fault (first leaf faultcode) the leaves of detail/UPnPError follow.
//   The buffer is then rewritten with writeSoap (bounded by doc->size; not
//   rewritten with doc->size 0).
// - a propertyset: argNV = every leaf of every property, in document order,
//   at most QN_ARG_MAX_NUM pairs; action and the buffer stay as they were.
// 0, -500 for a body without the expected structure, QN_ERR_ARG for
// absent arguments.
int parseSoap(QNTextDoc *doc, QNApiAction *action);

// Writes action as a plain envelope
//   <Envelope><Body><action><name>value</name>...</action></Body></Envelope>
// without prefixes (arguments are written by their local names), or, when
// action->action is kPropertySetName, as a property set (writePropertySet).
// pos ends at 0; 0, or QN_ERR_NOMEM when the output filled doc->size.
int writeSoap(QNTextDoc *doc, const QNApiAction *action);

// Writes the pairs of action as a GENA property set, one property per
// variable (UDA 1.0, 4.2.1):
//   <e:propertyset xmlns:e="urn:schemas-upnp-org:event-1-0">
//   <e:property><name>value</name></e:property>...</e:propertyset>
int writePropertySet(QNTextDoc *doc, const QNApiAction *action);
