// SOAP control, device side: the dispatch of a POST that arrives on a
// device's control server and the three answers. The control point's side
// is qnCPSoapAction / qnCPSoapQuery (qnSdkApi.h, soapClient.cpp).
#pragma once

#include "server.h"
#include "soapWrite.h"

// Handles one request on a device's control server: 0 when it took the
// request (answered it, or answered 400 when it was malformed), -1 when it
// is not this device's (another role or device may take it). Every check
// prints its console message as it fails.
int soapDispatch(MsgHandler *handler);

// The answers, each an HTTP response on the handler's connection, which is
// closed afterwards: the action's pairs, a variable's value, or a SOAP fault
// with status 500 and a UPnPError (UDA 1.0, 3.2.2), by default 501 "XML
// error". 0 or the writer's error.
int soapRespAction(MsgHandler *handler, const char *serviceType, const QNApiAction *action);
int soapRespQuery(MsgHandler *handler, const QNNameVal *var);
int soapRespErr(MsgHandler *handler, uint16_t code = kFaultErrorCode, const char *desc = kFaultErrorText);
