// The writer of the HTTP document kind: serialising a message, streaming it
// into a socket, and the request and response senders built on that.
#include "http.h"
#include "log.h"
#include "server.h"
#include "sock.h"

#include <atomic>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string_view>

const QNTextDoc kHttpDocTemplate = {
    nullptr,        // text
    0,              // size
    0,              // pos
    "/:\r\n",       // delims
    httpClassify,   // nameHook
    0,              // state
    nullptr,        // user
    httpParse,      // parse
    httpPrintToSock,
    httpSerialize,
    0,              // len
};

namespace {

std::atomic<ServerNameLookup> serverNameLookup{nullptr};

// Builds one line of output in a fixed buffer; what does not fit is cut.
struct LineBuilder {
    char text[kHttpLineMax];
    size_t used = 0;

    LineBuilder &add(std::string_view s)
    {
        used += copyBounded(text + used, sizeof text - used, s);
        return *this;
    }
    LineBuilder &add(uint32_t n)
    {
        char digits[16];
        auto res = std::to_chars(digits, digits + sizeof digits, n);
        return add(std::string_view(digits, static_cast<size_t>(res.ptr - digits)));
    }
};

std::string_view fieldText(const char *field, size_t size)
{
    return std::string_view(field, strnlen(field, size));
}

int writeStartLine(QNTextDoc *doc, const HttpMsg *msg)
{
    LineBuilder line;
    if (msg->method == HM_RESPONSE) {
        int status = msg->status;
        const char *reason = httpReason(status);
        if (reason == nullptr) {
            status = 500;
            reason = httpReason(status);
        }
        line.add("HTTP/").add(msg->major).add(".").add(msg->minor);
        line.add(" ").add(static_cast<uint32_t>(status)).add(" ").add(reason);
    } else {
        line.add(httpMethodName(msg->method)).add(" ").add(fieldText(msg->uri, sizeof msg->uri));
        line.add(" HTTP/").add(msg->major).add(".").add(msg->minor);
    }
    line.add("\r\n");
    return doc->write(doc, line.text);
}

} // namespace

int httpSerialize(QNTextDoc *doc, void *model)
{
    auto *msg = static_cast<HttpMsg *>(model);
    if (doc == nullptr || doc->write == nullptr || doc->text == nullptr || msg == nullptr ||
        msg->method < HM_GET || msg->method > HM_RESPONSE)
        return QN_ERR_ARG;
    doc->pos = 0;
    doc->len = 0;
    int failed = writeStartLine(doc, msg);
    int count = msg->count < kMaxHeaders ? msg->count : kMaxHeaders;
    for (int i = 0; i < count; ++i) {
        const HttpHeader &header = msg->headers[i];
        std::string_view name = httpHeaderName(header.index);
        if (name.empty())
            continue; // a row without a name cannot be written
        LineBuilder line;
        line.add(name).add(": ").add(fieldText(header.value, sizeof header.value)).add("\r\n");
        failed |= doc->write(doc, line.text);
    }
    failed |= doc->write(doc, "\r\n");
    if (msg->body != nullptr)
        failed |= doc->write(doc, msg->body);
    doc->pos = 0;
    return failed != 0 ? -1 : 0;
}

namespace {

// Sends what the document holds and starts it afresh.
int flushToSock(QNTextDoc *doc, SockInfo *sock)
{
    sock->len = doc->len;
    int ret = sockWrite(sock);
    doc->pos = 0;
    doc->len = 0;
    doc->text[0] = '\0';
    return ret;
}

} // namespace

int httpPrintToSock(QNTextDoc *doc, const char *text)
{
    auto *msg = doc != nullptr ? static_cast<HttpMsg *>(doc->user) : nullptr;
    SockInfo *sock = msg != nullptr ? msg->sock : nullptr;
    // The socket sends from its own buffer, so the document must be that buffer.
    if (doc == nullptr || doc->text == nullptr || doc->pos > doc->len || doc->size < 2 ||
        text == nullptr || sock == nullptr || sock->data != doc->text) {
        debugPrint(LOG_SOCK, "Print to sock: arg err\r\n", LOG_ERROR);
        return -1;
    }
    // Sending at three quarters of the buffer leaves room for the next line;
    // a longer text is sent in as many pieces as it takes.
    uint32_t flushAt = doc->size / 4 * 3;
    if (flushAt == 0)
        flushAt = 1;
    std::string_view rest(text);
    while (!rest.empty()) {
        size_t n = copyBounded(doc->text + doc->pos, doc->size - doc->pos, rest);
        rest.remove_prefix(n);
        doc->pos += static_cast<uint32_t>(n);
        doc->len = doc->pos;
        sock->len = doc->pos;
        if (doc->pos >= flushAt) {
            int ret = flushToSock(doc, sock);
            if (ret != 0)
                return ret;
        }
    }
    return 0;
}

namespace {

void startMsg(HttpMsg *msg, int method, SockInfo *sock)
{
    msg->major = 1;
    msg->minor = 1;
    msg->method = method;
    msg->uri[0] = '\0';
    msg->status = 0;
    msg->reason[0] = '\0';
    msg->count = 0;
    msg->body = nullptr;
    msg->sock = sock;
}

void addHeader(HttpMsg *msg, int index, std::string_view value)
{
    if (msg->count >= kMaxHeaders)
        return;
    HttpHeader &header = msg->headers[msg->count++];
    header.index = index;
    copyBounded(header.value, sizeof header.value, value);
}

// Copies the caller's headers, keeping room for the writer's own ones
// (Content-Length and the like matter more to the peer than extra caller
// headers). The surplus is dropped and logged.
void addCallerHeaders(HttpMsg *msg, const HttpHeader *headers, int count, int reserved,
                      const char *tooMany)
{
    int room = kMaxHeaders - reserved;
    if (count > room)
        debugPrint(LOG_SOCK, tooMany, LOG_ERROR);
    // Forward order, so that headers taken from msg itself stay intact.
    for (int i = 0; i < count && i < room; ++i)
        addHeader(msg, headers[i].index, fieldText(headers[i].value, sizeof headers[i].value));
}

// Serialises msg through doc (whose text is the socket's buffer) and sends
// it, then the body: the body fills the buffer behind the head, so that a
// small message leaves in one piece.
int sendMsg(QNTextDoc *doc, HttpMsg *msg, const char *body, uint32_t bodyLen)
{
    SockInfo *sock = msg->sock;
    int ret = httpSerialize(doc, msg);
    if (ret != 0)
        return ret;
    size_t pending = doc->len;
    size_t room = doc->size - 1;
    size_t sent = 0;
    while (sent < bodyLen || pending > 0) {
        size_t n = bodyLen - sent < room - pending ? bodyLen - sent : room - pending;
        copyBounded(doc->text + pending, room + 1 - pending, std::string_view(body + sent, n));
        pending += n;
        sent += n;
        if (pending == room || sent == bodyLen) {
            sock->len = static_cast<uint32_t>(pending);
            ret = sockWrite(sock);
            if (ret != 0)
                return ret;
            pending = 0;
        }
    }
    return 0;
}

bool overlaps(const char *a, size_t aLen, const char *b, size_t bLen)
{
    auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x < y + bLen && y < x + aLen;
}

} // namespace

int httpSendRequest(MsgHandler *handler, int method, const char *uri, const HttpHeader *headers,
                    int count, const char *body, uint32_t bodyLen)
{
    SockInfo *sock = handler != nullptr ? handler->sock : nullptr;
    if (sock == nullptr || sock->data == nullptr || sock->len < 2 || uri == nullptr ||
        method < HM_GET || method >= HM_RESPONSE || count < 0 || (count > 0 && headers == nullptr))
        return QN_ERR_ARG;
    if (body == nullptr)
        bodyLen = 0;
    uint32_t room = sock->len;
    if (bodyLen > 0 && overlaps(body, bodyLen, sock->data, room))
        return QN_ERR_ARG;
    HttpMsg msg;
    startMsg(&msg, method, sock);
    copyBounded(msg.uri, sizeof msg.uri, uri);
    constexpr int kBodyHeaders = 3;
    addCallerHeaders(&msg, headers, count, bodyLen > 0 ? kBodyHeaders : 0,
                     "Request - too many http headers\r\n");
    if (bodyLen > 0) {
        LineBuilder length;
        addHeader(&msg, HH_CONTENT_LENGTH, length.add(bodyLen).text);
        addHeader(&msg, HH_CONNECTION, "close");
        addHeader(&msg, HH_PRAGMA, "no-cache");
    }
    QNTextDoc doc = kHttpDocTemplate;
    docInitWrite(&doc, sock->data, room);
    doc.user = &msg;
    int ret = sendMsg(&doc, &msg, body, bodyLen);
    // The record keeps its room, so the answer can be read into it at once.
    sock->len = room;
    return ret;
}

int httpSendResponse(MsgHandler *handler, int status, const HttpHeader *headers, int count,
                     const char *body, uint32_t bodyLen)
{
    HttpMsg *msg = handler != nullptr ? handler->msg : nullptr;
    SockInfo *sock = msg != nullptr ? msg->sock : nullptr;
    QNTextDoc *parsed = msg != nullptr ? msg->doc : nullptr;
    if (sock == nullptr || sock->data == nullptr || sock->len == 0 || parsed == nullptr ||
        parsed->text != sock->data || parsed->size < 2 || count < 0 ||
        (count > 0 && headers == nullptr))
        return QN_ERR_ARG;
    if (body == nullptr)
        bodyLen = 0;
    // The response overwrites the request in the buffer: a body taken from
    // there would be destroyed before it is sent.
    if (bodyLen > 0 && overlaps(body, bodyLen, sock->data, parsed->size))
        return QN_ERR_ARG;
    int reserved = bodyLen > 0 ? 3 : 1;
    msg->method = HM_RESPONSE;
    msg->major = 1;
    msg->minor = 1;
    msg->status = static_cast<uint16_t>(status < 0 || status > UINT16_MAX ? 500 : status);
    msg->uri[0] = '\0';
    msg->body = nullptr;
    msg->count = 0;
    addCallerHeaders(msg, headers, count, reserved, "Response - too many http headers\r\n");
    ServerNameLookup lookup = serverNameLookup.load();
    const char *name = lookup != nullptr ? lookup(handler) : nullptr;
    addHeader(msg, HH_SERVER, name != nullptr && name[0] != '\0' ? name : kDefaultServerName);
    if (bodyLen > 0) {
        LineBuilder length;
        addHeader(msg, HH_CONNECTION, "close");
        addHeader(msg, HH_CONTENT_LENGTH, length.add(bodyLen).text);
    }
    QNTextDoc doc = kHttpDocTemplate;
    docInitWrite(&doc, parsed->text, parsed->size);
    doc.user = msg;
    int ret = sendMsg(&doc, msg, body, bodyLen);
    if (sock->kind == SP_TCP_SERVER && sock->workFd != 0)
        sockCloseWork(sock);
    return ret;
}

void setServerNameLookup(ServerNameLookup lookup)
{
    serverNameLookup.store(lookup);
}

// ---- Dates --------------------------------------------------------------------

int httpFormatDate(time_t when, char *buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return QN_ERR_ARG;
    static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    tm utc{};
    if (gmtime_r(&when, &utc) == nullptr) {
        buffer[0] = '\0';
        return QN_ERR_ARG;
    }
    auto twoDigits = [](int n, char (&out)[3]) {
        out[0] = static_cast<char>('0' + n / 10 % 10);
        out[1] = static_cast<char>('0' + n % 10);
        out[2] = '\0';
        return out;
    };
    char day[3], hour[3], minute[3], second[3];
    return strBuild(buffer, size, "s", kDays[utc.tm_wday % 7], "s", ", ", "s", twoDigits(utc.tm_mday, day),
                    "s", " ", "s", kMonths[utc.tm_mon % 12], "s", " ", "d", utc.tm_year + 1900, "s", " ",
                    "s", twoDigits(utc.tm_hour, hour), "s", ":", "s", twoDigits(utc.tm_min, minute),
                    "s", ":", "s", twoDigits(utc.tm_sec, second), "s", " GMT", "");
}

int httpDate(char *buffer, int size)
{
    return httpFormatDate(std::time(nullptr), buffer, size);
}
