// HTTP/1.1 messages: the one record that holds a message, the method,
// header and status tables, the parser (the HTTP kind of the text cursor)
// and the writers that send requests and responses on a socket.
#pragma once

#include "qnLimits.h"
#include "text.h"

#include <cstdint>
#include <ctime>

struct SockInfo;
struct MsgHandler;

// Rows of the method table; a response carries HM_RESPONSE.
enum HttpMethod : int32_t {
    HM_GET = 0,
    HM_POST = 1,
    HM_MPOST = 2,
    HM_SUBSCRIBE = 3,
    HM_UNSUBSCRIBE = 4,
    HM_NOTIFY = 5,
    HM_HEAD = 6,
    HM_MSEARCH = 7,
    HM_RESPONSE = 8,
};

// Rows of the header table. The numbers are fixed: empty rows keep theirs.
enum HttpHeaderIndex : int32_t {
    HH_CACHE_CONTROL = 0,
    HH_CALLBACK = 1,
    HH_SOAPACTION = 2,
    HH_CONTENT_LENGTH = 3,
    HH_CONTENT_TYPE = 4,
    HH_EXT = 5,
    HH_HOST = 6,
    HH_DATE = 7,
    HH_EXPIRES = 8,
    HH_LOCATION = 9,
    HH_MAN = 10,
    HH_MX = 11,
    HH_NT = 12,
    HH_NTS = 13,
    HH_SERVER = 14,
    HH_SEQ = 15,
    HH_SID = 16,
    HH_ST = 17,
    HH_TIMEOUT = 18,
    HH_PRAGMA = 19,
    HH_CONNECTION = 20,
    HH_USN = 22,
    HH_USER_AGENT = 23,
    HH_ACCEPT = 24,
    HH_ACCEPT_ENCODING = 25,
    HH_ACCEPT_CHARSET = 26,
    HH_ACCEPT_LANGUAGE = 27,
    HH_ACCEPT_RANGE = 28,
    HH_KEEP_ALIVE = 39,
    HH_UNKNOWN = 40, // also the index of a name outside the table
};

inline constexpr int kHttpMethodRows = 9;
inline constexpr int kHttpHeaderRows = 41;

struct HttpHeader {
    int32_t index;
    char value[QN_VAL_MAX_LEN];
};

struct HttpMsg {
    uint16_t minor;
    uint16_t major;
    int32_t method;
    char uri[QN_VAL_MAX_LEN];
    uint16_t status;
    char reason[QN_VAL_MAX_LEN];
    HttpHeader headers[kMaxHeaders];
    uint16_t count;
    char *body;      // inside the parsed text (starts at the blank line), or the body to write
    QNTextDoc *doc;  // the document that parsed the message; replies are written through it
    SockInfo *sock;  // the socket the message came from or goes to
};

// Name hook of the HTTP kind: method row, else header row, else -1 (index
// 40). Names compare without regard to case; rows without a name match
// nothing; a tag of class kTagClassRaw is left as it is.
int httpClassify(QNXmlTag *tag);

// Parses doc's text from pos into msg (an HttpMsg), in place: the text ends
// at doc->len or its first NUL. Lines end at LF or CR LF; empty lines before
// the start line are passed over; an interim 100 response before the real
// one is skipped. Header lines outside the table, and those beyond the
// tenth, are skipped (logged at detail level, category 7); a line that
// starts with a blank continues the previous value. On success msg->body
// and doc->pos are at the empty line that ends the headers, so a body
// starts with its CR LF (at the end of the text when there is none);
// msg->doc = doc and doc->user = msg; msg->sock is left as it was. Fails
// (-1, logging "Error ml" or "Error hl") on a start line that is neither a
// request of the method table with a target and an HTTP version nor a
// status line with a three-digit code, on a target or a known header's
// value (folded lines included) longer than its field (QN_VAL_MAX_LEN - 1
// characters: never cut), or on a header line without a name and colon.
// QN_ERR_ARG without doc, text or msg.
int httpParse(QNTextDoc *doc, void *msg);

// Parses a message held in a caller's buffer of size bytes: reading stops
// at the first NUL or after size bytes. msg->doc is left absent, since the
// document lives only for the call. QN_ERR_ARG when text, size or msg is
// absent or 0.
int httpParseText(char *text, uint32_t size, HttpMsg *msg);

// Value of the first header with that index, or nullptr (also for index 40
// or more).
const char *findHeader(const HttpMsg *msg, int index);

// Writes msg through doc's write operation from pos 0: the start line (a
// status outside the table as 500), each header with its name as the table
// spells it (rows without a name are left out), the empty line, then body
// when present. pos is 0 afterwards. 0, -1 when a write failed, QN_ERR_ARG
// without doc, its write, its text or msg, or for a method outside 0 to 8.
int httpSerialize(QNTextDoc *doc, void *msg);

// The write operation that streams into the socket of doc's message
// (doc->user): doc->text must be that socket's buffer. Text is appended at
// pos; whenever three quarters of doc->size are filled the text is sent and
// the document starts again at 0, so a text of any length goes out in
// pieces. sock->len holds what is waiting. -1 (logging "Print to sock: arg
// err") without a socket, or the error of the send.
int httpPrintToSock(QNTextDoc *doc, const char *text);

// Sends a request on the handler's socket through its buffer (sock->len is
// the buffer's room, restored afterwards so that the answer can be read at
// once). The caller supplies Host. With a body, Content-Length, Connection
// "close" and Pragma "no-cache" follow the caller's headers; caller headers
// that leave no room for these within ten are dropped and logged ("Request -
// too many http headers", category 1). The body may be of any length but
// must not lie inside the socket's buffer. 0, a send error, or QN_ERR_ARG.
int httpSendRequest(MsgHandler *handler, int method, const char *uri, const HttpHeader *headers,
                    int count, const char *body, uint32_t bodyLen);

// Answers the handler's current message (handler->msg, parsed through a
// document over its socket's buffer) and closes the accepted connection of
// an SP_TCP_SERVER socket. The message becomes the response: the caller's
// headers (which may be taken from the request itself), Server from the
// installed lookup, and with a body Connection "close" and Content-Length.
// Caller headers beyond the room left within ten are dropped and logged
// ("Response - too many http headers", category 1). The response overwrites
// the request in the buffer, so the body must not lie there (QN_ERR_ARG).
// Datagram answers (SSDP) go out on a record of their own, not through here.
int httpSendResponse(MsgHandler *handler, int status, const HttpHeader *headers, int count,
                     const char *body, uint32_t bodyLen);

// The current time as an HTTP date (RFC 1123 form, UTC), e.g.
// "Mon, 07 Dec 2026 01:02:03 GMT". Returns the characters written (the text
// is cut to size - 1 and terminated), QN_ERR_ARG without a buffer.
int httpDate(char *buffer, int size);
// The same for a given calendar time.
int httpFormatDate(time_t when, char *buffer, int size);

// Reason phrase of a known status code, or nullptr (also for 0 and 306,
// which have no phrase and are written as 500).
const char *httpReason(int status);

// The row of a method name (compared without regard to case), or -1.
int httpMethodOf(std::string_view name);

// Name of a method or header row (as written), or "".
const char *httpMethodName(int method);
const char *httpHeaderName(int index);

// The template of the HTTP document kind; its write operation is
// httpPrintToSock.
extern const QNTextDoc kHttpDocTemplate;

// Value of the Server header of a response; the entity layer installs the
// lookup of a device's serverName. Default "Corvanta UPnP Server, UPnP/1.0".
inline constexpr const char *kDefaultServerName = "Corvanta UPnP Server, UPnP/1.0";
using ServerNameLookup = const char *(*)(const MsgHandler *handler);
void setServerNameLookup(ServerNameLookup lookup);
