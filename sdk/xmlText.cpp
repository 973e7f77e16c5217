// Character data of the XML layer: entity and character-reference decoding
// for the leaf readers, and the name checks of the writers.
#include "xml.h"

#include <cstring>

namespace {

// Code points a well-formed document may carry (XML 1.0, production Char).
bool isXmlChar(uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

size_t encodeUtf8(uint32_t cp, char out[4])
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

int digitValue(char c, bool hex)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

struct NamedEntity {
    std::string_view body; // the text between '&' and ';' included
    char value;
};
constexpr NamedEntity kNamedEntities[] = {
    {"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''},
};

// The reference that starts with the '&' at src[at]: its characters in out
// (UTF-8, *outLen bytes) and the length of the reference, or 0 when the text
// there is not a reference the reader decodes.
size_t readReference(std::string_view src, size_t at, char out[4], size_t *outLen)
{
    std::string_view rest = src.substr(at + 1);
    if (!rest.empty() && rest[0] == '#') {
        size_t j = 1;
        bool hex = j < rest.size() && rest[j] == 'x';
        if (hex)
            ++j;
        uint32_t cp = 0;
        size_t digits = 0;
        for (; j < rest.size(); ++j, ++digits) {
            int d = digitValue(rest[j], hex);
            if (d < 0)
                break;
            // Stay just above the largest code point instead of overflowing.
            cp = cp > 0x10FFFF ? 0x110000 : cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
        }
        if (digits == 0 || j >= rest.size() || rest[j] != ';' || !isXmlChar(cp))
            return 0;
        *outLen = encodeUtf8(cp, out);
        return j + 2;
    }
    for (const NamedEntity &e : kNamedEntities) {
        if (rest.substr(0, e.body.size()) == e.body) {
            out[0] = e.value;
            *outLen = 1;
            return e.body.size() + 1;
        }
    }
    return 0;
}

bool isContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Length of a well-formed UTF-8 sequence at s[0..n) and its code point in
// *cp, or 0.
size_t utf8Decode(const unsigned char *s, size_t n, uint32_t *cp)
{
    unsigned char c = s[0];
    size_t len;
    uint32_t v;
    if (c < 0x80) {
        *cp = c;
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        v = c & 0x07;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (s[i] & 0x3F);
    }
    if ((len == 3 && v < 0x800) || (len == 4 && (v < 0x10000 || v > 0x10FFFF)) ||
        (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return len;
}

size_t utf8SequenceAt(const unsigned char *s, size_t n)
{
    uint32_t cp = 0;
    return utf8Decode(s, n, &cp);
}

// XML 1.0 (fifth edition) NameStartChar and NameChar, without the colon.
bool isNameStartChar(uint32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(uint32_t c)
{
    return isNameStartChar(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// An XML name without a colon, of well-formed UTF-8.
bool isNcName(std::string_view name)
{
    const auto *s = reinterpret_cast<const unsigned char *>(name.data());
    for (size_t i = 0; i < name.size();) {
        uint32_t cp = 0;
        size_t n = utf8Decode(s + i, name.size() - i, &cp);
        if (n == 0 || !(i == 0 ? isNameStartChar(cp) : isNameChar(cp)))
            return false;
        i += n;
    }
    return !name.empty();
}

} // namespace

size_t xmlDecodeText(std::string_view src, char *dst, size_t dstSize)
{
    if (dst == nullptr || dstSize == 0)
        return 0;
    const size_t cap = dstSize - 1;
    size_t out = 0;
    size_t i = 0;
    while (i < src.size()) {
        const void *amp = std::memchr(src.data() + i, '&', src.size() - i);
        size_t runEnd = amp ? static_cast<size_t>(static_cast<const char *>(amp) - src.data()) : src.size();
        size_t run = runEnd - i;
        if (run > cap - out) {
            // Cut inside plain text: never leave the first bytes of a
            // multi-byte character behind.
            size_t take = cap - out;
            size_t back = 0;
            while (back < 3 && take > 0 && isContinuation(src[i + take])) {
                --take;
                ++back;
            }
            if (back > 0) {
                size_t seq = utf8SequenceAt(reinterpret_cast<const unsigned char *>(src.data() + i + take),
                                            src.size() - i - take);
                if (seq <= back) // not a well-formed sequence we split: cut bytes
                    take += back;
            }
            std::memcpy(dst + out, src.data() + i, take);
            out += take;
            break;
        }
        std::memcpy(dst + out, src.data() + i, run);
        out += run;
        i = runEnd;
        if (i >= src.size())
            break;
        char enc[4];
        size_t encLen = 0;
        size_t used = readReference(src, i, enc, &encLen);
        if (used == 0) {
            enc[0] = '&';
            encLen = 1;
            used = 1;
        }
        if (encLen > cap - out)
            break; // a character that does not fit whole is left out
        std::memcpy(dst + out, enc, encLen);
        out += encLen;
        i += used;
    }
    dst[out] = '\0';
    return out;
}

const char *xmlFindNamespace(const QNNameVal *ns, int nsCount, std::string_view prefix)
{
    if (ns == nullptr)
        return nullptr;
    for (int i = 0; i < nsCount; ++i)
        if (ns[i].val[0] != '\0' && prefix == ns[i].name)
            return ns[i].val;
    return nullptr;
}

bool xmlNameWritable(std::string_view name, const QNNameVal *ns, int nsCount)
{
    size_t colon = name.find(':');
    if (colon == std::string_view::npos)
        return isNcName(name);
    std::string_view prefix = name.substr(0, colon);
    std::string_view local = name.substr(colon + 1);
    if (!isNcName(prefix) || !isNcName(local))
        return false;
    if (prefix == "xml")
        return true;
    if (prefix.substr(0, 5) == "xmlns")
        return false;
    return xmlFindNamespace(ns, nsCount, prefix) != nullptr;
}
