// The control point's HTTP client for descriptions and SCPDs.
#pragma once

#include "entity.h"

// GETs url into buf (size bytes, terminated); *len receives the bytes read.
// 0, -1 (wrong state, no device address), QN_ERR_ARG, or the socket
// layer's error.
int download(EntitySlot *cp, const char *url, char *buf, uint32_t size, uint32_t *len);

// Downloads and parses a description into the control point's tracked
// description, with every SCPD when withScpds. 0 when the download
// succeeded (parsed or not), -1 when it failed.
int downloadDescription(EntitySlot *cp, const char *url, bool withScpds);

// Downloads and parses the SCPD of every service of dev and its embedded
// devices that has none, or whose service is not active.
int parseScpdOfDev(EntitySlot *cp, QNDevDesc *dev);
