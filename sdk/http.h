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

// Name hook of the HTTP kind: method row, else header row, else -1 (index 40).
int httpClassify(QNXmlTag *tag);

// Parses doc's text into msg (an HttpMsg). 0 or -1.
int httpParse(QNTextDoc *doc, void *msg);

// Parses a message held in a caller's buffer of size bytes (NUL-terminated
// within it). QN_ERR_ARG when text, size or msg is absent or 0.
int httpParseText(char *text, uint32_t size, HttpMsg *msg);

// Value of the first header with that index, or nullptr.
const char *findHeader(const HttpMsg *msg, int index);

// Writes msg through doc's write operation. 0 or QN_ERR_ARG.
int httpSerialize(QNTextDoc *doc, void *msg);

// The write operation that streams into the socket of doc's message.
int httpPrintToSock(QNTextDoc *doc, const char *text);

// Sends a request on the handler's socket; the caller supplies Host.
int httpSendRequest(MsgHandler *handler, int method, const char *uri, const HttpHeader *headers,
                    int count, const char *body, uint32_t bodyLen);

// Answers the handler's current message on its socket and closes the
// accepted connection.
int httpSendResponse(MsgHandler *handler, int status, const HttpHeader *headers, int count,
                     const char *body, uint32_t bodyLen);

// The current time as an HTTP date (RFC 1123 form, UTC), e.g.
// "Mon, 07 Dec 2026 01:02:03 GMT". Returns the characters written (the text
// is cut to size - 1 and terminated), QN_ERR_ARG without a buffer.
int httpDate(char *buffer, int size);
// The same for a given calendar time.
int httpFormatDate(time_t when, char *buffer, int size);

// Reason phrase of a known status code, or nullptr.
const char *httpReason(int status);

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
