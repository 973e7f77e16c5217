// The HTTP tables and the parser of the HTTP document kind. The parser reads
// the text in place: only the target, the reason phrase and the values of
// the known headers are copied into the message record.
#include "http.h"
#include "httpFrame.h"
#include "log.h"

#include <cstring>
#include <iterator>
#include <string_view>

namespace {

struct NameRow {
    int32_t index;
    std::string_view name;
};

constexpr NameRow kMethodRows[] = {
    {HM_GET, "GET"},
    {HM_POST, "POST"},
    {HM_MPOST, "M-POST"},
    {HM_SUBSCRIBE, "SUBSCRIBE"},
    {HM_UNSUBSCRIBE, "UNSUBSCRIBE"},
    {HM_NOTIFY, "NOTIFY"},
    {HM_HEAD, "HEAD"},
    {HM_MSEARCH, "M-SEARCH"},
};

// Rows without a name (21, 29 to 38, 40) are left out: they match nothing.
constexpr NameRow kHeaderRows[] = {
    {HH_CACHE_CONTROL, "Cache-Control"},
    {HH_CALLBACK, "Callback"},
    {HH_SOAPACTION, "SOAPAction"},
    {HH_CONTENT_LENGTH, "Content-Length"},
    {HH_CONTENT_TYPE, "Content-Type"},
    {HH_EXT, "Ext"},
    {HH_HOST, "Host"},
    {HH_DATE, "Date"},
    {HH_EXPIRES, "Expires"},
    {HH_LOCATION, "Location"},
    {HH_MAN, "Man"},
    {HH_MX, "Mx"},
    {HH_NT, "Nt"},
    {HH_NTS, "Nts"},
    {HH_SERVER, "Server"},
    {HH_SEQ, "Seq"},
    {HH_SID, "Sid"},
    {HH_ST, "St"},
    {HH_TIMEOUT, "Timeout"},
    {HH_PRAGMA, "Pragma"},
    {HH_CONNECTION, "Connection"},
    {HH_USN, "Usn"},
    {HH_USER_AGENT, "User-Agent"},
    {HH_ACCEPT, "Accept"},
    {HH_ACCEPT_ENCODING, "Accept-Encoding"},
    {HH_ACCEPT_CHARSET, "Accept-Charset"},
    {HH_ACCEPT_LANGUAGE, "Accept-Language"},
    {HH_ACCEPT_RANGE, "Accept-Range"},
    {HH_KEEP_ALIVE, "Keep-Alive"},
};

template <size_t N>
int32_t findRow(const NameRow (&rows)[N], std::string_view name)
{
    for (const NameRow &row : rows)
        if (equalNoCase(row.name, name))
            return row.index;
    return -1;
}

// Reason phrases by class (code / 100) and remainder (code % 100).
constexpr const char *kReasons1[] = {"Continue", "Switching Protocols"};
constexpr const char *kReasons2[] = {
    "OK", "Created", "Accepted", "Non-Authoritative Information", "No Content", "Reset Content",
    "Partial Content"};
constexpr const char *kReasons3[] = {
    "Multiple Choices", "Moved Permanently", "Found", "See Other", "Not Modified", "Use Proxy",
    "", "Temporary Redirect"};
constexpr const char *kReasons4[] = {
    "Bad Request", "Unauthorized", "Payment Required", "Forbidden", "Not Found",
    "Method Not Allowed", "Not Acceptable", "Proxy Authentication Required", "Request Timeout",
    "Conflict", "Gone", "Length Required", "Precondition Failed", "Request Entity Too Large",
    "Request-URI Too Long", "Unsupported Media Type", "Requested Range Not Satisfiable",
    "Expectation Failed"};
constexpr const char *kReasons5[] = {
    "Internal Server Error", "Not Implemented", "Bad Gateway", "Service Unavailable",
    "Gateway Timeout", "HTTP Version Not Supported"};

struct ReasonClass {
    const char *const *phrases;
    int count;
};

constexpr ReasonClass kReasonClasses[] = {
    {nullptr, 0},
    {kReasons1, std::size(kReasons1)},
    {kReasons2, std::size(kReasons2)},
    {kReasons3, std::size(kReasons3)},
    {kReasons4, std::size(kReasons4)},
    {kReasons5, std::size(kReasons5)},
};

} // namespace

int httpClassify(QNXmlTag *tag)
{
    if (tag == nullptr)
        return QN_ERR_ARG;
    if (tag->cls == kTagClassRaw)
        return 0;
    std::string_view name(tag->name, strnlen(tag->name, sizeof tag->name));
    int32_t row = findRow(kMethodRows, name);
    if (row < 0)
        row = findRow(kHeaderRows, name);
    tag->index = row < 0 ? HH_UNKNOWN : row;
    tag->cls = 0;
    return row < 0 ? -1 : 0;
}

int httpMethodOf(std::string_view name)
{
    return findRow(kMethodRows, name);
}

const char *httpMethodName(int method)
{
    for (const NameRow &row : kMethodRows)
        if (row.index == method)
            return row.name.data();
    return "";
}

const char *httpHeaderName(int index)
{
    for (const NameRow &row : kHeaderRows)
        if (row.index == index)
            return row.name.data();
    return "";
}

const char *httpReason(int status)
{
    if (status < 0)
        return nullptr;
    size_t cls = static_cast<size_t>(status / 100);
    int rest = status % 100;
    if (cls >= std::size(kReasonClasses) || rest >= kReasonClasses[cls].count)
        return nullptr;
    // Codes without a phrase (306, which RFC 2616 keeps unused) count as unknown.
    const char *phrase = kReasonClasses[cls].phrases[rest];
    return phrase[0] != '\0' ? phrase : nullptr;
}

const char *findHeader(const HttpMsg *msg, int index)
{
    if (msg == nullptr || index < 0 || index >= HH_UNKNOWN)
        return nullptr;
    int count = msg->count < kMaxHeaders ? msg->count : kMaxHeaders;
    for (int i = 0; i < count; ++i)
        if (msg->headers[i].index == index)
            return msg->headers[i].value;
    return nullptr;
}

// ---- Parser -----------------------------------------------------------------

namespace {

constexpr bool isOws(char c) { return c == ' ' || c == '\t'; }

// The next word of a line: blanks skipped, then up to the next blank.
std::string_view takeWord(std::string_view *line)
{
    while (!line->empty() && isOws(line->front()))
        line->remove_prefix(1);
    size_t end = 0;
    while (end < line->size() && !isOws((*line)[end]))
        ++end;
    std::string_view word = line->substr(0, end);
    line->remove_prefix(end);
    return word;
}

// One or more decimal digits no larger than max.
bool takeNumber(std::string_view *text, uint32_t max, uint32_t *value)
{
    size_t digits = 0;
    uint32_t n = 0;
    while (digits < text->size() && (*text)[digits] >= '0' && (*text)[digits] <= '9') {
        n = n * 10 + static_cast<uint32_t>((*text)[digits] - '0');
        if (n > max)
            return false;
        ++digits;
    }
    text->remove_prefix(digits);
    *value = n;
    return digits > 0;
}

// A target never holds control characters (RFC 2396 2.4.3); one that does
// would carry them into every log line and URL built from it.
bool hasControl(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    return false;
}

// "HTTP/" major ["." minor], the name without regard to case.
bool parseVersion(std::string_view word, HttpMsg *msg)
{
    constexpr std::string_view kPrefix = "HTTP/";
    if (word.size() < kPrefix.size() || !equalNoCase(word.substr(0, kPrefix.size()), kPrefix))
        return false;
    word.remove_prefix(kPrefix.size());
    uint32_t major = 0, minor = 0;
    if (!takeNumber(&word, UINT16_MAX, &major))
        return false;
    if (!word.empty() && word.front() == '.') {
        word.remove_prefix(1);
        if (!takeNumber(&word, UINT16_MAX, &minor))
            return false;
    }
    msg->major = static_cast<uint16_t>(major);
    msg->minor = static_cast<uint16_t>(minor);
    return word.empty();
}

// The status line: version, a three-digit code (RFC 2616 6.1.1) and the
// reason phrase as received.
bool parseStatusLine(std::string_view line, HttpMsg *msg)
{
    if (!parseVersion(takeWord(&line), msg))
        return false;
    std::string_view code = takeWord(&line);
    uint32_t status = 0;
    if (code.size() != 3 || !takeNumber(&code, 999, &status) || !code.empty())
        return false;
    msg->status = static_cast<uint16_t>(status);
    while (!line.empty() && isOws(line.front()))
        line.remove_prefix(1);
    copyBounded(msg->reason, sizeof msg->reason, line.substr(0, line.find('\r')));
    return true;
}

// A request line (method, target, version) or a status line. Blank lines
// before it are passed over (RFC 2616 4.1).
bool parseStartLine(std::string_view text, size_t *at, HttpMsg *msg)
{
    while (*at < text.size() && isBlank(text[*at]))
        ++*at;
    HttpLine line = httpLineAt(text, *at);
    *at = line.next;
    std::string_view rest = line.text;
    std::string_view first = takeWord(&rest);
    int32_t method = findRow(kMethodRows, first);
    if (method < 0) {
        msg->method = HM_RESPONSE;
        return parseStatusLine(line.text, msg);
    }
    msg->method = method;
    std::string_view target = takeWord(&rest);
    // A target longer than its field is refused rather than cut and used.
    if (target.empty() || target.size() >= sizeof msg->uri || hasControl(target))
        return false;
    copyBounded(msg->uri, sizeof msg->uri, target);
    // Whatever follows the version on the line is ignored.
    return parseVersion(takeWord(&rest), msg);
}

// Stores a value from offset `at` of the field. A value longer than its
// field is refused, never cut: a cut Callback, Sid or Host would name
// something else than the peer wrote.
bool storeValue(HttpHeader *header, size_t at, std::string_view value)
{
    if (at + value.size() >= sizeof header->value)
        return false;
    size_t end = at + copyBounded(header->value + at, sizeof header->value - at, value);
    header->value[end] = '\0';
    return true;
}

// A line that starts with a blank continues the previous header's value
// (RFC 2616 2.2); it is joined with one space.
bool appendFolded(HttpHeader *header, std::string_view more)
{
    size_t used = strnlen(header->value, sizeof header->value);
    if (more.empty())
        return true;
    if (used > 0) {
        if (used + 1 >= sizeof header->value)
            return false;
        header->value[used++] = ' ';
    }
    return storeValue(header, used, more);
}

std::string_view headerValue(std::string_view rest)
{
    while (!rest.empty() && (rest.front() == ':' || isOws(rest.front())))
        rest.remove_prefix(1);
    rest = rest.substr(0, rest.find('\r'));
    while (!rest.empty() && isOws(rest.back()))
        rest.remove_suffix(1);
    return rest;
}

void logSkipped(const char *why, std::string_view name)
{
    constexpr int kShownMax = 64;
    int shown = name.size() < kShownMax ? static_cast<int>(name.size()) : kShownMax;
    debugPrintf(LOG_HTTP_PARSE, LOG_DETAIL, "%s header skipped: %.*s\r\n", why, shown, name.data());
}

// The header lines up to the empty line (or the end of the text), which *at
// is left on. Headers outside the table and beyond the tenth are skipped:
// real devices send many the table lacks (OPT, 01-NLS, BOOTID.UPNP.ORG).
// A known value longer than its field fails the whole head.
bool parseHeaders(std::string_view text, size_t *at, HttpMsg *msg)
{
    HttpHeader *last = nullptr;
    while (*at < text.size()) {
        HttpLine line = httpLineAt(text, *at);
        if (line.text.empty())
            break;
        *at = line.next;
        if (isOws(line.text.front())) {
            if (last != nullptr && !appendFolded(last, headerValue(line.text)))
                return false;
            continue;
        }
        last = nullptr;
        size_t colon = line.text.find(':');
        if (colon == std::string_view::npos || colon == 0)
            return false;
        std::string_view name = line.text.substr(0, colon);
        while (!name.empty() && isOws(name.back()))
            name.remove_suffix(1);
        int32_t index = findRow(kHeaderRows, name);
        if (index < 0 || msg->count >= kMaxHeaders) {
            logSkipped(index < 0 ? "unknown" : "surplus", name);
            continue;
        }
        last = &msg->headers[msg->count++];
        last->index = index;
        if (!storeValue(last, 0, headerValue(line.text.substr(colon))))
            return false;
    }
    return true;
}

void clearMsg(HttpMsg *msg)
{
    msg->minor = 0;
    msg->major = 0;
    msg->method = HM_RESPONSE;
    msg->uri[0] = '\0';
    msg->status = 0;
    msg->reason[0] = '\0';
    msg->count = 0;
    msg->body = nullptr;
}

} // namespace

int httpParse(QNTextDoc *doc, void *model)
{
    auto *msg = static_cast<HttpMsg *>(model);
    if (doc == nullptr || doc->text == nullptr || doc->pos > doc->len || msg == nullptr)
        return QN_ERR_ARG;
    // The text ends at its first NUL, whatever the recorded length says.
    std::string_view text = docRest(doc);
    text = text.substr(0, strnlen(text.data(), text.size()));
    size_t at = 0;
    for (;;) {
        clearMsg(msg);
        if (!parseStartLine(text, &at, msg)) {
            debugPrint(LOG_HTTP_PARSE, "Error ml\r\n", LOG_ERROR);
            return -1;
        }
        if (!parseHeaders(text, &at, msg)) {
            debugPrint(LOG_HTTP_PARSE, "Error hl\r\n", LOG_ERROR);
            return -1;
        }
        // An interim 100 response may come first in the same text; the final
        // response follows its empty line (RFC 2616 10.1.1).
        size_t next = httpLineAt(text, at).next;
        if (msg->method != HM_RESPONSE || msg->status != 100 || next >= text.size())
            break;
        at = next;
    }
    doc->pos += static_cast<uint32_t>(at);
    doc->user = msg;
    msg->doc = doc;
    msg->body = doc->text + doc->pos;
    return 0;
}

int httpParseText(char *text, uint32_t size, HttpMsg *msg)
{
    if (text == nullptr || size == 0 || msg == nullptr)
        return QN_ERR_ARG;
    QNTextDoc doc = kHttpDocTemplate;
    doc.write = docAppend;
    doc.text = text;
    doc.size = size;
    doc.pos = 0;
    doc.len = static_cast<uint32_t>(strnlen(text, size));
    int ret = httpParse(&doc, msg);
    // The document lives only for this call: nothing is written through it.
    msg->doc = nullptr;
    return ret;
}
