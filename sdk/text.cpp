#include "text.h"
#include "log.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

size_t copyBounded(char *dst, size_t dstSize, std::string_view src)
{
    if (dst == nullptr || dstSize == 0)
        return 0;
    size_t n = src.size() < dstSize - 1 ? src.size() : dstSize - 1;
    if (n > 0)
        std::memmove(dst, src.data(), n);
    dst[n] = '\0';
    return n;
}

int strBuild(char *buf, int size, ...)
{
    if (buf == nullptr || size <= 0)
        return 0;
    buf[0] = '\0';
    int written = 0;
    va_list ap;
    va_start(ap, size);
    for (;;) {
        const char *code = va_arg(ap, const char *);
        if (code == nullptr || code[0] == '\0' || code[1] != '\0')
            break;
        char scratch[12];
        const char *item = nullptr;
        switch (code[0]) {
        case 's':
            item = va_arg(ap, const char *);
            break;
        case 'd':
        case 'D':
            std::snprintf(scratch, sizeof scratch, "%d", static_cast<int>(va_arg(ap, int)));
            item = scratch;
            break;
        case 'u':
        case 'U':
            std::snprintf(scratch, sizeof scratch, "%u", static_cast<unsigned>(va_arg(ap, unsigned)));
            item = scratch;
            break;
        default:
            break;
        }
        if (item == nullptr)
            break;
        written += static_cast<int>(copyBounded(buf + written, static_cast<size_t>(size - written), item));
    }
    va_end(ap);
    return written;
}

int formatAddr(uint32_t addr, uint16_t port, char *out, int outSize)
{
    if (out == nullptr || outSize <= 0)
        return 0;
    char text[32];
    unsigned a = addr >> 24, b = (addr >> 16) & 0xff, c = (addr >> 8) & 0xff, d = addr & 0xff;
    if (port == 80)
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a, b, c, d);
    else
        std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", a, b, c, d, port);
    return static_cast<int>(copyBounded(out, static_cast<size_t>(outSize), text));
}

namespace {

bool isHostChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
}

// A dotted IPv4 literal, network order. Names are never looked up: a URL
// a peer hands us must not make the stack wait for a resolver (the server
// thread holds the stack lock), nor send it to a host the peer's own
// address does not vouch for.
bool literalHost(const char *host, uint32_t *addr)
{
    in_addr literal{};
    if (inet_pton(AF_INET, host, &literal) != 1)
        return false;
    *addr = literal.s_addr;
    return true;
}

} // namespace

int parseUrl(const char *url, char *scheme, int schemeSize, uint32_t *addr,
             uint16_t *port, char *path, int pathSize)
{
    if (url == nullptr || url[0] == '\0' || scheme == nullptr || schemeSize <= 0 ||
        addr == nullptr || port == nullptr || path == nullptr || pathSize <= 0)
        return QN_ERR_ARG;
    scheme[0] = '\0';
    path[0] = '\0';
    *addr = 0;
    *port = htons(80);

    std::string_view text(url);
    size_t at = 0;
    while (at < text.size() && std::isalnum(static_cast<unsigned char>(text[at])))
        ++at;
    if (at < text.size() && text[at] == ':') {
        copyBounded(scheme, static_cast<size_t>(schemeSize), text.substr(0, at));
        ++at;
        while (at < text.size() && text[at] == '/')
            ++at;
    } else {
        at = 0;
    }
    if (std::strcmp(scheme, "file") == 0) {
        size_t sep = text.find_last_of("/\\");
        copyBounded(path, static_cast<size_t>(pathSize), sep == std::string_view::npos ? text : text.substr(sep));
        *port = 0;
        return 0;
    }
    size_t hostStart = at;
    while (at < text.size() && isHostChar(text[at]))
        ++at;
    char host[QN_VAL_MAX_LEN];
    copyBounded(host, sizeof host, text.substr(hostStart, at - hostStart));
    if (at < text.size() && text[at] == ':') {
        ++at;
        uint32_t value = 0;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
            value = value * 10 + static_cast<uint32_t>(text[at] - '0');
            if (value > 0xffff)
                value = 0x10000; // keep it out of range without overflowing
            ++at;
        }
        *port = htons(static_cast<uint16_t>(value > 0xffff ? 0 : value));
    }
    // Whatever follows the authority is the path; anything else there
    // (user information, a bracketed host) is not a URL we follow.
    if (at < text.size() && text[at] != '/')
        return QN_ERR_ARG;
    if (at < text.size())
        copyBounded(path, static_cast<size_t>(pathSize), text.substr(at));
    return literalHost(host, addr) ? 0 : -1;
}

const char *findNameVal(const QNNameVal *array, int count, const char *name)
{
    if (array == nullptr || name == nullptr || count <= 0)
        return nullptr;
    for (int i = 0; i < count; ++i)
        if (std::strcmp(array[i].name, name) == 0)
            return array[i].val;
    return nullptr;
}

// ---- Text cursor ----------------------------------------------------------

void docInitRead(QNTextDoc *doc, const char *text)
{
    doc->text = const_cast<char *>(text);
    doc->pos = 0;
    doc->len = text ? static_cast<uint32_t>(std::strlen(text)) : 0;
    doc->state = 0;
}

void docInitWrite(QNTextDoc *doc, char *buf, uint32_t size)
{
    doc->text = buf;
    doc->size = size;
    doc->pos = 0;
    doc->len = 0;
    doc->state = 0;
    if (buf != nullptr && size > 0)
        buf[0] = '\0';
}

namespace {

bool docValid(const QNTextDoc *doc)
{
    return doc != nullptr && doc->text != nullptr && doc->pos <= doc->len;
}

bool isDelim(const QNTextDoc *doc, char c)
{
    return c != '\0' && doc->delims != nullptr && std::strchr(doc->delims, c) != nullptr;
}

} // namespace

std::string_view docRest(const QNTextDoc *doc)
{
    if (!docValid(doc))
        return {};
    return std::string_view(doc->text + doc->pos, doc->len - doc->pos);
}

int docSkipDelims(QNTextDoc *doc)
{
    if (!docValid(doc))
        return QN_ERR_ARG;
    while (doc->pos < doc->len && (isBlank(doc->text[doc->pos]) || isDelim(doc, doc->text[doc->pos])))
        ++doc->pos;
    return 0;
}

int docFindChar(QNTextDoc *doc, char c)
{
    if (!docValid(doc))
        return QN_ERR_ARG;
    const void *hit = std::memchr(doc->text + doc->pos, c, doc->len - doc->pos);
    if (hit == nullptr || c == '\0') {
        doc->pos = doc->len;
        return c == '\0' ? 0 : -1;
    }
    doc->pos = static_cast<uint32_t>(static_cast<const char *>(hit) - doc->text);
    return 0;
}

int docReadToken(QNTextDoc *doc, QNXmlTag *tag)
{
    if (tag == nullptr || docSkipDelims(doc) != 0)
        return QN_ERR_ARG;
    uint32_t start = doc->pos;
    while (doc->pos < doc->len) {
        char c = doc->text[doc->pos];
        if (isBlank(c) || isDelim(doc, c))
            break;
        ++doc->pos;
    }
    copyBounded(tag->name, sizeof tag->name, std::string_view(doc->text + start, doc->pos - start));
    if (doc->nameHook != nullptr)
        (void)doc->nameHook(tag);
    return 0;
}

int docPeekToken(QNTextDoc *doc, QNXmlTag *tag)
{
    if (!docValid(doc))
        return QN_ERR_ARG;
    uint32_t saved = doc->pos;
    int ret = docReadToken(doc, tag);
    doc->pos = saved;
    return ret;
}

int docAppend(QNTextDoc *doc, const char *text)
{
    if (!docValid(doc) || text == nullptr || doc->size == 0)
        return QN_ERR_ARG;
    if (doc->pos >= doc->size)
        return 0;
    size_t n = copyBounded(doc->text + doc->pos, doc->size - doc->pos, text);
    doc->pos += static_cast<uint32_t>(n);
    doc->len = doc->pos;
    return 0;
}
