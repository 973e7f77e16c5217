// The device's HTTP file service: the description at its two paths, the
// SCPDs at their SCPDURLs, and every other file from the application.
#include "fileService.h"

#include "desc.h"
#include "devRequest.h"
#include "entity.h"
#include "log.h"
#include "query.h"
#include "roles.h"
#include "scpd.h"
#include "serverConn.h"
#include "sock.h"
#include "text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>

namespace {

template <size_t N>
std::string_view fieldText(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// The handler's request can be answered: a parsed message over its
// socket's buffer, of a device that has its model.
EntitySlot *deviceOfRequest(MsgHandler *handler)
{
    HttpMsg *msg = handler != nullptr ? handler->msg : nullptr;
    SockInfo *sock = msg != nullptr ? msg->sock : nullptr;
    if (sock == nullptr || sock->data == nullptr || msg->doc == nullptr || msg->doc->text != sock->data ||
        msg->doc->size < 2)
        return nullptr;
    EntitySlot *slot = entityOf(handler);
    if (slot == nullptr || slot->kind != EK_DEVICE || slot->desc == nullptr)
        return nullptr;
    return slot;
}

HttpHeader header(int index, std::string_view value)
{
    HttpHeader h{};
    h.index = index;
    copyBounded(h.value, sizeof h.value, value);
    return h;
}

HttpHeader lengthHeader(uint64_t length)
{
    char digits[24];
    auto res = std::to_chars(digits, digits + sizeof digits, length);
    return header(HH_CONTENT_LENGTH, std::string_view(digits, static_cast<size_t>(res.ptr - digits)));
}

// Writes the status line and the headers into the connection; the body
// follows with sendBody. The request's text is overwritten.
int sendHead(MsgHandler *handler, int status, const HttpHeader *headers, int count)
{
    HttpMsg *msg = handler->msg;
    msg->method = HM_RESPONSE;
    msg->major = 1;
    msg->minor = 1;
    msg->status = static_cast<uint16_t>(status);
    msg->uri[0] = '\0';
    msg->reason[0] = '\0';
    msg->body = nullptr;
    msg->count = 0;
    for (int i = 0; i < count && i < kMaxHeaders; ++i)
        msg->headers[msg->count++] = headers[i];
    QNTextDoc doc = kHttpDocTemplate;
    docInitWrite(&doc, msg->doc->text, msg->doc->size);
    doc.user = msg;
    int ret = httpSerialize(&doc, msg);
    if (ret != 0 || doc.len == 0)
        return ret;
    msg->sock->len = doc.len;
    return sockWrite(msg->sock);
}

// Sends bytes of a body on the connection.
int sendBody(HttpMsg *msg, const char *data, size_t len)
{
    return sockSend(msg->sock, data, len);
}

void closeConnection(SockInfo *sock)
{
    if (sock != nullptr && sock->kind == SP_TCP_SERVER && sock->workFd != 0)
        sockCloseWork(sock);
}

// Writes a document of the model into a heap buffer that grows until the
// whole document fits. Returns the buffer, with its length in *len; nullptr
// when memory is short or the document exceeds kMaxServedDoc.
template <typename Model>
std::unique_ptr<char[]> writeWhole(const QNTextDoc &kind, int (*writer)(QNTextDoc *, const Model *),
                                   const Model *model, uint32_t *len)
{
    for (size_t size = kServedDocSize; size <= kMaxServedDoc; size *= 2) {
        std::unique_ptr<char[]> buf(new (std::nothrow) char[size]);
        if (buf == nullptr)
            return nullptr;
        QNTextDoc doc = kind;
        docInitWrite(&doc, buf.get(), static_cast<uint32_t>(size));
        if (writer(&doc, model) == 0) {
            *len = doc.len;
            return buf;
        }
    }
    return nullptr;
}

// Answers with a document written from the model. The connection closes
// after it as before, but Content-Length lets a client stop reading at once.
template <typename Model>
int serveXml(MsgHandler *handler, const EntitySlot *slot, const QNTextDoc &kind,
             int (*writer)(QNTextDoc *, const Model *), const Model *model)
{
    uint32_t len = 0;
    std::unique_ptr<char[]> text = writeWhole(kind, writer, model, &len);
    if (text == nullptr) {
        debugPrint(LOG_HTTP_XFER, "Document does not fit\r\n", LOG_ERROR);
        return sendStatus(handler, 500);
    }
    const HttpHeader headers[] = {
        header(HH_SERVER, entityServerName(slot)),
        header(HH_CONNECTION, "close"),
        header(HH_CONTENT_TYPE, "text/xml"),
        lengthHeader(len),
    };
    HttpMsg *msg = handler->msg;
    if (sendHead(handler, 200, headers, static_cast<int>(std::size(headers))) == 0) {
        debugPrint(LOG_HTTP_XFER, "Sending file by R\r\n", LOG_DETAIL);
        (void)sendBody(msg, text.get(), len);
    }
    closeConnection(msg->sock);
    return 0;
}

// The description's two paths: webPath ("/" when empty) and webPath/descFile.
// A webPath written without its leading slash is published with one, as the
// description URL announces it.
bool isDescriptionPath(const EntitySlot *slot, std::string_view target)
{
    std::string_view web = fieldText(slot->dev.webPath);
    char path[QN_VAL_MAX_LEN + QN_NAME_MAX_LEN + 2];
    size_t used = 0;
    path[0] = '\0';
    if (web.empty() || web.front() != '/')
        used += copyBounded(path, sizeof path, "/");
    used += copyBounded(path + used, sizeof path - used, web);
    if (target == std::string_view(path, used))
        return true;
    if (!web.empty())
        used += copyBounded(path + used, sizeof path - used, "/");
    used += copyBounded(path + used, sizeof path - used, fieldText(slot->dev.descFile));
    return target == std::string_view(path, used);
}

// One application file being delivered: the record handed to MT_READ_FILE
// and what must stay true between the calls. A long file is delivered as
// the peer takes it: once enough waits to be sent, the rest is asked for
// later, when the server loop calls back (resumed).
struct UserFile {
    MsgHandler *handler;
    EntitySlot *slot;
    QNMsgHandler app;
    const QNRootDesc *desc;
    HttpMsg *msg;
    SockInfo *sock;
    char *sockData;
    bool resumed;
    int64_t remaining;
    std::unique_ptr<char[]> chunk;
    char name[QN_VAL_MAX_LEN];
    QNApiFileInfo info;
};

// The handler may call into the API, even remove its device: after such a
// call neither the entity nor the connection may be used any more.
bool stillServing(const UserFile &file)
{
    if (entityOf(file.handler) != file.slot || file.slot->kind != EK_DEVICE || file.sock->workFd == 0)
        return false;
    if (file.resumed)
        return file.slot->desc == file.desc && file.slot->dev.msgHandler == file.app;
    return file.handler->msg == file.msg && file.sock->data == file.sockData;
}

// Asks the application for the next piece into a buffer of kFileChunkSize
// bytes. True when it delivered; bufLen is then cut to the buffer.
bool askChunk(UserFile &file, bool *gone)
{
    file.info.fileName = file.name;
    file.info.buf = file.chunk.get();
    file.info.bufLen = kFileChunkSize;
    int rc = file.app(file.slot->self, MT_READ_FILE, 0, &file.info);
    *gone = !stillServing(file);
    if (*gone || rc != 0)
        return false;
    file.info.bufLen = std::clamp<int32_t>(file.info.bufLen, 0, kFileChunkSize);
    return true;
}

// Sends the chunks as the application delivers them, never more than the
// fileSize announced in Content-Length. True when more is to come and
// enough waits to be sent meanwhile.
bool streamChunks(UserFile &file)
{
    for (;;) {
        int64_t n = std::min<int64_t>(file.info.bufLen, file.remaining);
        if (n > 0) {
            debugPrint(LOG_HTTP_XFER, "Sending file content\r\n", LOG_DETAIL);
            if (sockSend(file.sock, file.chunk.get(), static_cast<size_t>(n)) != 0)
                return false;
            file.remaining -= n;
        }
        file.info.bufLen = 0;
        // Nothing more for a HEAD request, which gets the head alone.
        if (file.remaining <= 0 || (file.sock->out != nullptr && connOutputDiscards(file.sock->out)))
            return false;
        if (file.sock->out != nullptr && connOutputPending(file.sock->out) >= kRefillBelow)
            return true;
        bool gone = false;
        if (!askChunk(file, &gone) || file.info.bufLen == 0)
            return false;
    }
}

bool resumeFile(void *state, SockInfo *sock)
{
    auto *file = static_cast<UserFile *>(state);
    file->resumed = true;
    file->sock = sock;
    return stillServing(*file) && streamChunks(*file);
}

void releaseFile(void *state)
{
    delete static_cast<UserFile *>(state);
}

int serveUserFile(MsgHandler *handler, EntitySlot *slot, char *target)
{
    std::unique_ptr<UserFile> file(new (std::nothrow) UserFile{});
    if (file == nullptr)
        return sendStatus(handler, 500);
    *file = UserFile{handler, slot, slot->dev.msgHandler, slot->desc, handler->msg, handler->msg->sock,
                     handler->msg->sock->data, false, 0, nullptr, {}, QNApiFileInfo{}};
    if (file->app == nullptr) {
        consolePrint(" internal error\r\n");
        debugPrint(LOG_HTTP_XFER, "Internal error\r\n", LOG_ERROR);
        return sendStatus(handler, 500);
    }
    file->chunk.reset(new (std::nothrow) char[kFileChunkSize]);
    if (file->chunk == nullptr)
        return sendStatus(handler, 500);
    debugPrint(LOG_HTTP_XFER, "Getting file from user\r\n", LOG_DETAIL);
    copyBounded(file->name, sizeof file->name, target);
    bool gone = false;
    bool delivered = askChunk(*file, &gone);
    if (gone)
        return 0;
    if (!delivered || file->info.fileSize <= 0)
        return sendStatus(handler, 404);
    file->remaining = file->info.fileSize;
    const HttpHeader headers[] = {
        header(HH_SERVER, entityServerName(slot)),
        header(HH_CONNECTION, "close"),
        lengthHeader(static_cast<uint64_t>(file->info.fileSize)),
        header(HH_CONTENT_TYPE, "text/html"),
    };
    SockInfo *sock = file->sock;
    bool more = sendHead(handler, 200, headers, static_cast<int>(std::size(headers))) == 0 && streamChunks(*file);
    if (!stillServing(*file))
        return 0;
    // The rest when the peer has taken what waits (the loop keeps the answer).
    if (more)
        connOutputRefill(sock->out, ConnRefill{resumeFile, releaseFile, file.release()});
    closeConnection(sock);
    return 0;
}

} // namespace

int sendStatus(MsgHandler *handler, int code)
{
    debugPrint(LOG_HTTP_XFER, "Sending http code\r\n", LOG_DETAIL);
    return httpSendResponse(handler, code, nullptr, 0, nullptr, 0);
}

namespace {

// Does the device publish this path: its description, one of its SCPDs, or
// anything under its own (non-empty) web path?
bool publishes(EntitySlot *slot, const char *target)
{
    if (slot == nullptr || slot->kind != EK_DEVICE || slot->desc == nullptr)
        return false;
    if (isDescriptionPath(slot, target) || getScpdByScpdUrl(&slot->desc->device, target) != nullptr)
        return true;
    std::string_view web = fieldText(slot->dev.webPath);
    if (!web.empty() && web.front() == '/')
        web.remove_prefix(1);
    std::string_view path(target);
    return !web.empty() && path.size() > web.size() + 1 && path[0] == '/' && path.substr(1, web.size()) == web &&
           path[web.size() + 1] == '/';
}

// Another running device whose file service shares this socket publishes the path.
bool publishedByAnother(const MsgHandler *handler, const char *target)
{
    const EntitySlot *own = entityOf(handler);
    for (QN_ENTITY e = 0; e < QN_MAX_ENTITY; ++e) {
        EntitySlot *other = entityAt(e);
        if (other == nullptr || other == own || other->kind != EK_DEVICE || !other->registered[DR_FILE])
            continue;
        const MsgHandler &h = other->handlers[DR_FILE];
        if (h.sock == handler->sock && h.state == ES_RUNNING && publishes(other, target))
            return true;
    }
    return false;
}

} // namespace

namespace {

// A running device's control or eventing role listens on this socket too
// (soapPort equal to httpPort): requests other than GET are theirs.
bool controlSharesSocket(const MsgHandler *handler)
{
    for (QN_ENTITY e = 0; e < QN_MAX_ENTITY; ++e) {
        const EntitySlot *slot = entityAt(e);
        if (slot == nullptr || slot->kind != EK_DEVICE)
            continue;
        for (int role : {DR_SOAP, DR_GENA})
            if (slot->registered[role] && slot->handlers[role].sock == handler->sock &&
                slot->handlers[role].state == ES_RUNNING)
                return true;
    }
    return false;
}

// Methods the file service answers with 405: every one but GET (and HEAD,
// which is not the file service's), when no control role shares the port.
bool refusedMethod(const MsgHandler *handler)
{
    int method = handler->msg->method;
    return method != HM_GET && method != HM_HEAD && method != HM_RESPONSE && !controlSharesSocket(handler);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Percent-decodes text into out; false for a "%" without two hex digits.
bool percentDecode(std::string_view text, std::string &out)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0)
            return false;
        out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
        i += 2;
    }
    return true;
}

// One form of a target: an absolute path, without backslash or NUL, without
// a ".." segment, and not starting with a drive ("/C:").
bool pathIsSafe(std::string_view path)
{
    if (path.empty() || path.front() != '/' || path.find_first_of(std::string_view("\\\0", 2)) != std::string_view::npos)
        return false;
    path = path.substr(0, path.find_first_of("?#"));
    size_t at = 0;
    for (int segment = 0; at < path.size(); ++segment) {
        size_t next = path.find('/', at + 1);
        std::string_view seg = path.substr(at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1);
        if (seg == "..")
            return false;
        if (segment == 0 && seg.size() >= 2 && seg[1] == ':' && std::isalpha(static_cast<unsigned char>(seg[0])))
            return false;
        if (next == std::string_view::npos)
            break;
        at = next;
    }
    return true;
}

} // namespace

bool targetIsSafe(std::string_view target)
{
    // An application that decodes the name it is handed, once or twice,
    // must not find a way out of its folder either.
    std::string once, twice;
    return pathIsSafe(target) && percentDecode(target, once) && pathIsSafe(once) &&
           (!percentDecode(once, twice) || pathIsSafe(twice));
}

int fileServiceMatch(MsgHandler *handler)
{
    if (handler == nullptr || handler->msg == nullptr || serverState() != SS_RUNNING)
        return -1;
    if (refusedMethod(handler))
        return 0;
    if (handler->msg->method != HM_GET)
        return -1;
    // Several devices may share one port (a media server and a renderer in
    // one process): each serves what it publishes; a path that none of them
    // publishes goes to the first, as with a single device.
    char target[QN_VAL_MAX_LEN];
    copyBounded(target, sizeof target, fieldText(handler->msg->uri));
    if (publishes(entityOf(handler), target))
        return 0;
    return publishedByAnother(handler, target) ? -1 : 0;
}

int fileServiceHandle(MsgHandler *handler)
{
    EntitySlot *slot = deviceOfRequest(handler);
    if (slot == nullptr) {
        consolePrint(" invalid args\r\n");
        return QN_ERR_ARG;
    }
    HttpMsg *msg = handler->msg;
    if (msg->method != HM_GET) {
        debugPrint(LOG_HTTP_XFER, "Method not allowed\r\n", LOG_DETAIL);
        (void)sendStatus(handler, 405);
        return 0;
    }
    // Names that could lead out of the application's folder never reach it.
    if (!targetIsSafe(fieldText(msg->uri))) {
        debugPrint(LOG_HTTP_XFER, "Unsafe target\r\n", LOG_NOTABLE);
        (void)sendStatus(handler, 400);
        return 0;
    }
    const char *host = findHeader(msg, HH_HOST);
    if (host != nullptr && !hostIsAddress(host)) {
        debugPrint(LOG_HTTP_XFER, "Host is not an address\r\n", LOG_NOTABLE);
        (void)sendStatus(handler, 400);
        return 0;
    }
    // The answer overwrites the request, its target included.
    char target[QN_VAL_MAX_LEN];
    copyBounded(target, sizeof target, fieldText(msg->uri));
    if (isDescriptionPath(slot, target))
        return serveXml(handler, slot, kDescDocKind, writeDesc, static_cast<const QNRootDesc *>(slot->desc));
    // Relative SCPDURLs are found as a control point resolves them.
    const QNServDesc *serv = serviceAtPath(slot, "SCPDURL", target);
    const QNScpd *scpd = serv != nullptr ? serv->scpd : nullptr;
    if (scpd != nullptr)
        return serveXml(handler, slot, kScpdDocKind, writeScpd, scpd);
    (void)serveUserFile(handler, slot, target);
    return 0;
}

namespace {

// Digits only, 1 to maxDigits of them, with a value of at most max.
bool isNumber(std::string_view text, size_t maxDigits, uint32_t min, uint32_t max)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    return value >= min && value <= max;
}

} // namespace

bool hostIsAddress(const char *host)
{
    if (host == nullptr)
        return false;
    std::string_view text(host);
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        if (!isNumber(text.substr(colon + 1), 5, 1, 65535))
            return false;
        text = text.substr(0, colon);
    }
    for (int part = 0; part < 4; ++part) {
        size_t dot = text.find('.');
        bool last = part == 3;
        if (last != (dot == std::string_view::npos))
            return false;
        if (!isNumber(text.substr(0, dot), 3, 0, 255))
            return false;
        text = last ? std::string_view() : text.substr(dot + 1);
    }
    return true;
}
