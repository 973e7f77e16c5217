// The device's HTTP file service: GET requests on its httpPort. The
// description and the SCPDs are written anew from the model for every
// request; any other path is asked of the application through MT_READ_FILE,
// which may deliver a file of any length in chunks.
//
// Decisions beyond plain serving:
// - A request whose Host names a host by name rather than by an IPv4 address
//   literal is refused with 400: a device answers only requests meant for
//   its address, so that a web page cannot reach it through a rebound DNS
//   name. A request without Host (HTTP/1.0) is served.
// - Written documents are never cut: the buffer starts at kServedDocSize and
//   grows up to kMaxServedDoc; the answer carries Content-Length besides
//   Connection "close".
// - An application file is sent with at most fileSize bytes, and chunks the
//   handler claims beyond the buffer's capacity are cut to it.
// - A target that could lead out of the application's folder (a ".."
//   segment, a backslash, a NUL, a drive prefix, raw or percent-encoded, or
//   an absolute URI) is refused with 400 before anything else is looked at.
// - Any method other than GET (HEAD aside) is answered 405 unless a control
//   or eventing role shares the port.
#pragma once

#include "server.h"

#include <string_view>

// The file role's match: the server runs and the request is a GET, or a
// method the file service refuses (see above). 0 = taken.
int fileServiceMatch(MsgHandler *handler);

// Answers the accepted GET and closes the connection. 0, or QN_ERR_ARG for
// a handler without message, entity, settings, model or buffer.
int fileServiceHandle(MsgHandler *handler);

// Answers the handler's request with the status line and Server only, and
// closes the connection.
int sendStatus(MsgHandler *handler, int code);

// True when a request target is an absolute path that stays inside the
// published tree however often the application percent-decodes it.
bool targetIsSafe(std::string_view target);

// True when a Host value is an IPv4 address literal, optionally followed by
// ":port" (1 to 65535).
bool hostIsAddress(const char *host);
