// The match, handle and timer functions of every protocol role, as the
// entity code registers them. Each role lives in its own module.
#pragma once

#include "server.h"

// SSDP: device search role, control point search results and announcements.
int ssdpMatch(MsgHandler *handler);
int ssdpHandle(MsgHandler *handler);
int advertiseTask(MsgHandler *handler);
int cpSearchTask(MsgHandler *handler);
// Arm the one pending search of a control point / the one periodic
// advertisement of a device, unless armed already; QN_ERR_NOMEM when the
// timer table is full.
int armSearch(MsgHandler *handler);
int armAdvertisement(MsgHandler *handler);

// SOAP control, device side; and the control point's client record.
int soapMatch(MsgHandler *handler);
int soapHandle(MsgHandler *handler);
int soapClientMatch(MsgHandler *handler);
int soapClientHandle(MsgHandler *handler);

// GENA: device subscriptions; the control point's event listener.
int genaMatch(MsgHandler *handler);
int genaHandle(MsgHandler *handler);
int eventMatch(MsgHandler *handler);
int eventHandle(MsgHandler *handler);
// Ends every subscription of a device that is being removed.
void genaForgetDevice(QN_ENTITY device);

// The device's file service.
int fileServiceMatch(MsgHandler *handler);
int fileServiceHandle(MsgHandler *handler);

// The control point's description download record.
int downloadMatch(MsgHandler *handler);
int downloadHandle(MsgHandler *handler);
