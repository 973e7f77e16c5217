#include "httpFrame.h"
#include "qnLimits.h"

#include <cstring>

namespace {

constexpr char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool isOws(char c) { return c == ' ' || c == '\t'; }

std::string_view trimOws(std::string_view s)
{
    while (!s.empty() && isOws(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isOws(s.back()))
        s.remove_suffix(1);
    return s;
}

// Calls visit(name, value) for every header line of a block until the empty
// line; visit returns false to stop. Lines without a colon (the start line)
// are passed over.
template <typename Visit>
void forEachHeader(std::string_view block, Visit visit)
{
    size_t at = 0;
    while (at < block.size()) {
        HttpLine line = httpLineAt(block, at);
        if (line.text.empty() && at > 0)
            return;
        at = line.next;
        size_t colon = line.text.find(':');
        if (colon == std::string_view::npos)
            continue;
        if (!visit(trimOws(line.text.substr(0, colon)), trimOws(line.text.substr(colon + 1))))
            return;
    }
}

bool containsNoCase(std::string_view text, std::string_view word)
{
    for (size_t i = 0; i + word.size() <= text.size(); ++i)
        if (equalNoCase(text.substr(i, word.size()), word))
            return true;
    return false;
}

// A plain decimal number of at most 18 digits (no sign, no blanks), so that
// it can never overflow a long long.
long long parseDecimal(std::string_view s)
{
    constexpr size_t kMaxDigits = 18;
    if (s.empty() || s.size() > kMaxDigits)
        return -1;
    long long value = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lowerAscii(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

} // namespace

HttpLine httpLineAt(std::string_view raw, size_t at)
{
    if (at >= raw.size())
        return {std::string_view(), raw.size(), false};
    const void *lf = std::memchr(raw.data() + at, '\n', raw.size() - at);
    size_t end = lf == nullptr ? raw.size() : static_cast<size_t>(static_cast<const char *>(lf) - raw.data());
    std::string_view text = raw.substr(at, end - at);
    // Also at the very end of a text cut between the CR and the LF.
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    if (lf == nullptr)
        return {text, raw.size(), false};
    return {text, end + 1, true};
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

size_t httpHeadersEnd(std::string_view raw)
{
    size_t at = 0;
    while (at < raw.size() && (raw[at] == '\r' || raw[at] == '\n'))
        ++at;
    bool started = false;
    while (at < raw.size()) {
        HttpLine line = httpLineAt(raw, at);
        if (!line.ended)
            return kHttpNpos;
        if (line.text.empty() && started)
            return line.next;
        started = true;
        at = line.next;
    }
    return kHttpNpos;
}

long long httpContentLength(std::string_view headers)
{
    long long found = -1;
    bool malformed = false;
    forEachHeader(headers, [&](std::string_view name, std::string_view value) {
        if (!equalNoCase(name, "Content-Length"))
            return true;
        long long n = parseDecimal(value);
        // Two different lengths leave the body's end in doubt (RFC 7230 3.3.2).
        if (n < 0 || (found >= 0 && n != found))
            malformed = true;
        found = n;
        return !malformed;
    });
    return malformed ? -1 : found;
}

bool httpIsChunked(std::string_view headers)
{
    bool chunked = false;
    forEachHeader(headers, [&](std::string_view name, std::string_view value) {
        if (equalNoCase(name, "Transfer-Encoding") && containsNoCase(value, "chunked"))
            chunked = true;
        return !chunked;
    });
    return chunked;
}

namespace {

// Reads the chunk-size line at *at: hex digits, then optional blanks and an
// extension up to the line end. 0 with the size, 1 incomplete, -1 malformed.
int readChunkSize(std::string_view body, size_t *at, size_t *size)
{
    size_t i = *at;
    size_t value = 0;
    size_t digits = 0;
    for (; i < body.size() && hexValue(body[i]) >= 0; ++i, ++digits) {
        value = value * 16 + static_cast<size_t>(hexValue(body[i]));
        // Checked digit by digit, so the value never overflows.
        if (value > kMsgBufSize)
            return -1;
    }
    if (i == body.size())
        return 1;
    if (digits == 0)
        return -1;
    while (i < body.size() && isOws(body[i]))
        ++i;
    if (i < body.size() && body[i] != ';' && body[i] != '\r' && body[i] != '\n')
        return -1;
    HttpLine rest = httpLineAt(body, i);
    if (!rest.ended)
        return 1;
    if (body[i] != ';' && !rest.text.empty())
        return -1; // a CR that is not part of the line end
    *at = rest.next;
    *size = value;
    return 0;
}

// Walks a chunked body; copies the data down to the front when apply is set.
// *consumed (when given) receives the bytes the chunked body takes in body.
int walkChunks(char *body, size_t len, size_t *outLen, bool apply, size_t *consumed = nullptr)
{
    std::string_view text(body, len);
    size_t at = 0;
    size_t out = 0;
    for (;;) {
        size_t size = 0;
        int ret = readChunkSize(text, &at, &size);
        if (ret != 0)
            return ret;
        if (size == 0)
            break;
        if (size > len - at)
            return 1;
        if (apply)
            std::memmove(body + out, body + at, size);
        out += size;
        at += size;
        HttpLine end = httpLineAt(text, at);
        if (!end.ended)
            return 1;
        if (!end.text.empty())
            return -1; // the data is longer than its size says
        at = end.next;
    }
    // Trailer fields up to the empty line are skipped.
    for (;;) {
        HttpLine line = httpLineAt(text, at);
        if (!line.ended)
            return 1;
        at = line.next;
        if (line.text.empty())
            break;
    }
    if (apply)
        body[out] = '\0';
    *outLen = out;
    if (consumed != nullptr)
        *consumed = at;
    return 0;
}

} // namespace

int httpDechunk(char *body, size_t len, size_t *outLen)
{
    if (body == nullptr || outLen == nullptr)
        return -1;
    // A first pass checks the whole body, so that an incomplete or broken
    // one is left as it was for the next read.
    size_t n = 0;
    int ret = walkChunks(body, len, &n, false);
    if (ret != 0)
        return ret;
    walkChunks(body, len, outLen, true);
    return 0;
}

// ---- Whole messages as they arrive ----------------------------------------------

namespace {

// A head may carry any visible character, obs-text and blanks; CR only as
// part of a line end. Anything else (NUL, escape sequences, a lone CR) is
// refused rather than carried into values, logs and URLs.
bool headBytesAllowed(std::string_view head)
{
    for (size_t i = 0; i < head.size(); ++i) {
        auto c = static_cast<unsigned char>(head[i]);
        if (c == '\t' || c == '\n' || (c >= 0x20 && c != 0x7f))
            continue;
        if (c == '\r' && (i + 1 == head.size() || head[i + 1] == '\n'))
            continue;
        return false;
    }
    return true;
}

struct BodyFraming {
    bool bad;
    long long length; // -1: none announced
    bool chunked;
};

BodyFraming readBodyFraming(std::string_view head)
{
    BodyFraming f{false, -1, false};
    bool transferCoding = false;
    forEachHeader(head, [&](std::string_view name, std::string_view value) {
        if (equalNoCase(name, "Content-Length")) {
            long long n = parseDecimal(value);
            // Two different lengths leave the body's end in doubt (RFC 7230 3.3.2).
            if (n < 0 || (f.length >= 0 && n != f.length))
                f.bad = true;
            f.length = n;
        } else if (equalNoCase(name, "Transfer-Encoding")) {
            if (transferCoding || !equalNoCase(value, "chunked"))
                f.bad = true;
            transferCoding = true;
            f.chunked = true;
        }
        return !f.bad;
    });
    // Both at once is how requests are smuggled past a proxy (RFC 7230 3.3.3).
    if (f.chunked && f.length >= 0)
        f.bad = true;
    return f;
}

RequestFrame badFrame(int status)
{
    return RequestFrame{FrameState::Bad, status, kHttpNpos, 0, false};
}

} // namespace

RequestFrame httpFrameRequest(std::string_view raw, size_t room)
{
    size_t headEnd = httpHeadersEnd(raw);
    if (headEnd == kHttpNpos) {
        // Refused as soon as it shows, not when the deadline has passed.
        if (!headBytesAllowed(raw.substr(0, raw.size() > 0 && raw.back() == '\r' ? raw.size() - 1 : raw.size())))
            return badFrame(400);
        if (raw.size() >= room)
            return badFrame(400);
        return RequestFrame{FrameState::Incomplete, 0, kHttpNpos, 0, false};
    }
    std::string_view head = raw.substr(0, headEnd);
    if (!headBytesAllowed(head))
        return badFrame(400);
    BodyFraming body = readBodyFraming(head);
    if (body.bad)
        return badFrame(400);
    RequestFrame frame{FrameState::Incomplete, 0, headEnd, 0, body.chunked};
    if (body.length >= 0) {
        if (static_cast<unsigned long long>(body.length) >= room - headEnd)
            return badFrame(413);
        if (raw.size() - headEnd < static_cast<unsigned long long>(body.length))
            return frame;
        frame.length = headEnd + static_cast<size_t>(body.length);
    } else if (body.chunked) {
        // A first pass over a copy would cost a copy; walkChunks without
        // apply only reads.
        size_t decoded = 0, consumed = 0;
        std::string_view rest = raw.substr(headEnd);
        int ret = walkChunks(const_cast<char *>(rest.data()), rest.size(), &decoded, false, &consumed);
        if (ret < 0)
            return badFrame(400);
        if (ret > 0)
            return raw.size() >= room ? badFrame(413) : frame;
        frame.length = headEnd + consumed;
    } else {
        frame.length = headEnd;
    }
    frame.state = FrameState::Complete;
    return frame;
}

namespace {

// An interim "100 Continue" head is skipped: the real answer follows it.
std::string_view skipInterim(std::string_view raw)
{
    while (raw.size() > 12 && (raw.substr(0, 12) == "HTTP/1.1 100" || raw.substr(0, 12) == "HTTP/1.0 100")) {
        size_t end = httpHeadersEnd(raw);
        if (end == kHttpNpos)
            break;
        raw.remove_prefix(end);
    }
    return raw;
}

} // namespace

AnswerState httpAnswerState(std::string_view raw)
{
    raw = skipInterim(raw);
    size_t headEnd = httpHeadersEnd(raw);
    if (headEnd == kHttpNpos)
        return AnswerState::Incomplete;
    std::string_view head = raw.substr(0, headEnd);
    long long length = httpContentLength(head);
    if (length >= 0)
        return raw.size() - headEnd >= static_cast<unsigned long long>(length) ? AnswerState::Complete
                                                                               : AnswerState::Incomplete;
    if (httpIsChunked(head)) {
        size_t decoded = 0;
        std::string_view rest = raw.substr(headEnd);
        return walkChunks(const_cast<char *>(rest.data()), rest.size(), &decoded, false) == 0
                   ? AnswerState::Complete
                   : AnswerState::Incomplete;
    }
    return AnswerState::UntilClose;
}

void httpUnchunkMessage(char *data, uint32_t *len)
{
    std::string_view raw(data, *len);
    std::string_view msg = skipInterim(raw);
    size_t headEnd = httpHeadersEnd(msg);
    if (headEnd == kHttpNpos || !httpIsChunked(msg.substr(0, headEnd)))
        return;
    size_t bodyStart = static_cast<size_t>(msg.data() - data) + headEnd;
    size_t bodyLen = 0;
    if (httpDechunk(data + bodyStart, *len - bodyStart, &bodyLen) < 0)
        bodyLen = 0; // malformed chunking: no body rather than markup
    *len = static_cast<uint32_t>(bodyStart + bodyLen);
    data[*len] = '\0';
}

