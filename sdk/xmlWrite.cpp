// Generic XML writers. Markup goes out as it is; every name and
// value is escaped, so that a value read as "AT&T" or holding a DIDL-Lite
// fragment is written back as well-formed character data.
#include "xml.h"

#include <cstring>

namespace {

// Indentation unit and line end of the written documents: both empty, so a
// document is its declaration line and one line of elements.
constexpr char kIndentUnit[] = "";
constexpr char kLineEnd[] = "";

// Escaped text is assembled in pieces of this size and handed to the
// document's write operation, which wants NUL-terminated text.
constexpr size_t kEscapeChunk = 256;

int put(QNTextDoc *doc, const char *text)
{
    return doc->write != nullptr ? doc->write(doc, text) : docAppend(doc, text);
}

const char *replacementOf(char c, bool attribute)
{
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    // A CR would reach other parsers as LF (XML 1.0, 2.11).
    case '\r':
        return "&#xD;";
    case '"':
        return attribute ? "&quot;" : nullptr;
    // In attribute values tab and LF would become blanks (XML 1.0, 3.3.3).
    case '\t':
        return attribute ? "&#x9;" : nullptr;
    case '\n':
        return attribute ? "&#xA;" : nullptr;
    default:
        return nullptr;
    }
}

// A blank that starts a value, written as a reference: the leaf reader
// drops leading blanks of the text it reads, not those of references.
const char *leadingBlank(char c)
{
    switch (c) {
    case ' ':
        return "&#x20;";
    case '\t':
        return "&#x9;";
    case '\n':
        return "&#xA;";
    default:
        return nullptr;
    }
}

} // namespace

int xmlWriteRaw(QNTextDoc *doc, const char *markup)
{
    if (doc == nullptr || doc->text == nullptr || markup == nullptr)
        return QN_ERR_ARG;
    return put(doc, markup);
}

int xmlWriteText(QNTextDoc *doc, std::string_view text, bool attribute)
{
    if (doc == nullptr || doc->text == nullptr)
        return QN_ERR_ARG;
    const char *specials = attribute ? "&<>\r\"\t\n" : "&<>\r";
    char chunk[kEscapeChunk];
    size_t used = 0;
    auto flush = [&]() {
        chunk[used] = '\0';
        used = 0;
        return put(doc, chunk);
    };
    const char *lead = !attribute && !text.empty() ? leadingBlank(text[0]) : nullptr;
    size_t i = 0;
    while (i < text.size()) {
        size_t special = i == 0 && lead != nullptr ? 0 : text.find_first_of(specials, i);
        size_t runEnd = special == std::string_view::npos ? text.size() : special;
        while (i < runEnd) {
            size_t take = runEnd - i;
            if (take > sizeof chunk - 1 - used)
                take = sizeof chunk - 1 - used;
            std::memcpy(chunk + used, text.data() + i, take);
            used += take;
            i += take;
            if (used == sizeof chunk - 1) {
                int ret = flush();
                if (ret != 0)
                    return ret;
            }
        }
        if (i >= text.size())
            break;
        const char *rep = i == 0 && lead != nullptr ? lead : replacementOf(text[i], attribute);
        size_t repLen = std::strlen(rep);
        if (used + repLen > sizeof chunk - 1) {
            int ret = flush();
            if (ret != 0)
                return ret;
        }
        std::memcpy(chunk + used, rep, repLen);
        used += repLen;
        ++i;
    }
    return used > 0 ? flush() : 0;
}

int writeIndent(QNTextDoc *doc, int depth)
{
    if (doc == nullptr || doc->text == nullptr)
        return QN_ERR_ARG;
    if (kIndentUnit[0] == '\0')
        return 0;
    for (int i = 0; i < depth; ++i) {
        int ret = put(doc, kIndentUnit);
        if (ret != 0)
            return ret;
    }
    return 0;
}

int writeStartTag(QNTextDoc *doc, const char *name)
{
    if (name == nullptr)
        return QN_ERR_ARG;
    int ret = xmlWriteRaw(doc, "<");
    if (ret == 0)
        ret = xmlWriteText(doc, name, false);
    if (ret == 0)
        ret = put(doc, ">");
    return ret;
}

int writeEndTag(QNTextDoc *doc, const char *name)
{
    if (name == nullptr)
        return QN_ERR_ARG;
    int ret = xmlWriteRaw(doc, "</");
    if (ret == 0)
        ret = xmlWriteText(doc, name, false);
    if (ret == 0)
        ret = put(doc, ">");
    return ret;
}

int writeLeafNs(QNTextDoc *doc, const QNNameVal *nv, int depth, const QNNameVal *ns, int nsCount)
{
    if (doc == nullptr || doc->text == nullptr || nv == nullptr)
        return QN_ERR_ARG;
    std::string_view name(nv->name, strnlen(nv->name, sizeof nv->name));
    // A name that cannot stand in a well-formed document (an undeclared
    // prefix, a character no XML name allows) is left out, not written.
    if (!xmlNameWritable(name, ns, nsCount))
        return 0;
    int ret = writeIndent(doc, depth);
    if (ret == 0)
        ret = writeStartTag(doc, nv->name);
    if (ret == 0)
        ret = xmlWriteText(doc, std::string_view(nv->val, strnlen(nv->val, sizeof nv->val)), false);
    if (ret == 0)
        ret = writeEndTag(doc, nv->name);
    if (ret == 0 && kLineEnd[0] != '\0')
        ret = put(doc, kLineEnd);
    return ret;
}

int writeLeaf(QNTextDoc *doc, const QNNameVal *nv, int depth)
{
    return writeLeafNs(doc, nv, depth, nullptr, 0);
}

int writeLeafListNs(QNTextDoc *doc, const QNNameVal *arr, int n, int depth, const QNNameVal *ns, int nsCount)
{
    if (doc == nullptr || arr == nullptr || n <= 0)
        return QN_ERR_ARG;
    for (int i = 0; i < n; ++i) {
        int ret = writeLeafNs(doc, &arr[i], depth, ns, nsCount);
        if (ret != 0)
            return ret;
    }
    return 0;
}

int writeLeafList(QNTextDoc *doc, const QNNameVal *arr, int n, int depth)
{
    return writeLeafListNs(doc, arr, n, depth, nullptr, 0);
}

int xmlBeginDoc(QNTextDoc *doc)
{
    if (doc == nullptr || doc->text == nullptr || doc->size == 0)
        return QN_ERR_ARG;
    doc->pos = 0;
    return put(doc, kXmlDeclLine);
}

int xmlEndDoc(QNTextDoc *doc)
{
    if (doc == nullptr)
        return QN_ERR_ARG;
    // docAppend cuts at size - 1: a buffer filled to that point was cut
    // (or fitted without a byte to spare).
    bool filled = (doc->write == nullptr || doc->write == docAppend) && doc->pos + 1 >= doc->size;
    doc->pos = 0;
    return filled ? QN_ERR_NOMEM : 0;
}
