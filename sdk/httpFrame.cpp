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
int walkChunks(char *body, size_t len, size_t *outLen, bool apply)
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
