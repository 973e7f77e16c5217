// XML readers: blanks and comments, the declaration, the
// known-name hook, leaves, elements and children. Every read is a forward
// scan of the caller's text bounded by doc->len; nothing is allocated and
// the deepest element stacks kMaxXmlDepth name ranges, not stack frames.
#include "xml.h"

#include "log.h"

#include <cstring>

const XmlKnownName kXmlKnownNames[kXmlKnownNameRows] = {
    {"specVersion", TC_GROUP},  {"major", TC_NUMBER},       {"minor", TC_NUMBER},
    {"URLBase", TC_URL},        {"deviceType", TC_TEXT},    {"presentationURL", TC_URL},
    {"friendlyName", TC_TEXT},  {"manufacturer", TC_TEXT},  {"manufacturerURL", TC_URL},
    {"modelDescription", TC_TEXT}, {"modelName", TC_TEXT},  {"UDN", TC_ID},
    {"UPC", TC_TEXT},           {"serialNumber", TC_NUMBER}, {"serviceType", TC_TEXT},
    {"serviceId", TC_ID},       {"controlURL", TC_URL},     {"eventSubURL", TC_URL},
    {"SCPDURL", TC_URL},        {"xml", TC_DECL},
};

namespace {

// Longest tag name the token record keeps; names compare as cut.
constexpr uint32_t kNameCut = QN_NAME_MAX_LEN - 1;

bool docUsable(const QNTextDoc *doc)
{
    return doc != nullptr && doc->text != nullptr && doc->pos <= doc->len;
}

bool isDelimOf(const QNTextDoc *doc, char c)
{
    return c != '\0' && doc->delims != nullptr && std::strchr(doc->delims, c) != nullptr;
}

// Blanks and the delimiters of the XML kinds, by byte: the characters the
// token reader skips before a name and that end it. A table, because names
// are scanned again at every level of an element (a third of a parse).
struct ByteSet {
    bool has[256];
};

constexpr ByteSet makeXmlSeparators()
{
    ByteSet set{};
    for (const char *c = " \t\r\n"; *c != '\0'; ++c)
        set.has[static_cast<unsigned char>(*c)] = true;
    for (const char *c = kXmlDelims; *c != '\0'; ++c)
        set.has[static_cast<unsigned char>(*c)] = true;
    return set;
}
constexpr ByteSet kXmlSeparators = makeXmlSeparators();

bool isSeparator(const QNTextDoc *doc, char c)
{
    if (doc->delims == kXmlDelims)
        return kXmlSeparators.has[static_cast<unsigned char>(c)];
    return isBlank(c) || isDelimOf(doc, c);
}

// A name as docReadToken takes it: skip blanks and delimiters from at, then
// the characters up to a blank, a delimiter or NUL. Returns the end of the
// token.
uint32_t scanToken(const QNTextDoc *doc, uint32_t at, uint32_t *start)
{
    const char *t = doc->text;
    uint32_t len = doc->len;
    if (doc->delims == kXmlDelims) {
        const bool *sep = kXmlSeparators.has;
        while (at < len && sep[static_cast<unsigned char>(t[at])])
            ++at;
        *start = at;
        while (at < len && t[at] != '\0' && !sep[static_cast<unsigned char>(t[at])])
            ++at;
        return at;
    }
    while (at < len && isSeparator(doc, t[at]))
        ++at;
    *start = at;
    while (at < len && t[at] != '\0' && !isSeparator(doc, t[at]))
        ++at;
    return at;
}

std::string_view cutName(const char *text, uint32_t start, uint32_t len)
{
    return std::string_view(text + start, len < kNameCut ? len : kNameCut);
}

// Offset of the next c at or after at, or len when there is none. The next
// few bytes are looked at first: most searches end within them.
uint32_t findFrom(const QNTextDoc *doc, uint32_t at, char c)
{
    if (at >= doc->len)
        return doc->len;
    uint32_t near = doc->len - at < 16 ? doc->len : at + 16;
    for (uint32_t i = at; i < near; ++i)
        if (doc->text[i] == c)
            return i;
    if (near == doc->len)
        return doc->len;
    const void *hit = std::memchr(doc->text + near, c, doc->len - near);
    return hit ? static_cast<uint32_t>(static_cast<const char *>(hit) - doc->text) : doc->len;
}

// Whether the start tag that began at tagStart and ends at the '>' at gt is
// an empty element: the last non-blank character before '>' is '/'.
bool endsEmpty(const QNTextDoc *doc, uint32_t tagStart, uint32_t gt)
{
    uint32_t q = gt;
    while (q > tagStart && isBlank(doc->text[q - 1]))
        --q;
    return q > tagStart && doc->text[q - 1] == '/';
}

// Blank skip from at for the element readers; returns false when the text
// ends inside a comment. At the end of the text it succeeds with pos at len.
bool skipBlankFrom(QNTextDoc *doc, uint32_t at, uint32_t *out)
{
    doc->pos = at;
    // Neither a blank nor the '<' of a comment: nothing to skip.
    if (at >= doc->len || (!isBlank(doc->text[at]) && doc->text[at] != '<')) {
        *out = at;
        return true;
    }
    if (xmlSkipBlank(doc) != 0)
        return false;
    *out = doc->pos;
    return true;
}

// Whether a comment ("<!--") starts at the offset at (at most len).
bool commentAt(const QNTextDoc *doc, uint32_t at)
{
    return doc->len - at >= 4 && std::memcmp(doc->text + at, "<!--", 4) == 0;
}

// The '<' of the next tag at or after at in *lt (len when there is none),
// passing over comments: devices annotate their documents, and a comment
// between elements is no more an element than a blank is. false when the
// text ends inside a comment.
bool findTagFrom(const QNTextDoc *doc, uint32_t at, uint32_t *lt)
{
    for (;;) {
        uint32_t p = findFrom(doc, at, '<');
        if (p >= doc->len || !commentAt(doc, p)) {
            *lt = p;
            return true;
        }
        const void *close = memmem(doc->text + p + 4, doc->len - p - 4, "-->", 3);
        if (close == nullptr)
            return false;
        at = static_cast<uint32_t>(static_cast<const char *>(close) - doc->text) + 3;
    }
}

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

bool startsWithBom(const QNTextDoc *doc)
{
    return doc->len - doc->pos >= sizeof kUtf8Bom - 1 &&
           std::memcmp(doc->text + doc->pos, kUtf8Bom, sizeof kUtf8Bom - 1) == 0;
}

void failPoint(int number)
{
    consolePrint(": %d\r\n", number);
}

} // namespace

// ---- Blanks, declaration, names ---------------------------------------------

int xmlSkipBlank(QNTextDoc *doc)
{
    if (!docUsable(doc))
        return QN_ERR_ARG;
    const char *t = doc->text;
    uint32_t len = doc->len;
    uint32_t p = doc->pos;
    if (p >= len)
        return -1;
    for (;;) {
        while (p < len && isBlank(t[p]))
            ++p;
        if (len - p >= 4 && std::memcmp(t + p, "<!--", 4) == 0) {
            p += 4;
            const void *close = memmem(t + p, len - p, "-->", 3);
            if (close == nullptr) {
                doc->pos = len;
                return -1;
            }
            p = static_cast<uint32_t>(static_cast<const char *>(close) - t) + 3;
            continue;
        }
        doc->pos = p;
        return 0;
    }
}

int xmlClassifyTag(QNXmlTag *tag)
{
    if (tag == nullptr)
        return QN_ERR_ARG;
    if (tag->cls == kTagClassRaw)
        return 0;
    for (int i = 0; i < kXmlKnownNameRows; ++i) {
        if (tag->name[0] == kXmlKnownNames[i].name[0] && std::strcmp(tag->name, kXmlKnownNames[i].name) == 0) {
            tag->index = i;
            tag->cls = kXmlKnownNames[i].cls;
            return 0;
        }
    }
    return -1;
}

int xmlSkipDecl(QNTextDoc *doc)
{
    if (!docUsable(doc))
        return QN_ERR_ARG;
    const uint32_t saved = doc->pos;
    // Some devices start their UTF-8 documents with a byte-order mark; it
    // is no markup, and the declaration may follow it.
    if (startsWithBom(doc))
        doc->pos += sizeof kUtf8Bom - 1;
    const uint32_t start = doc->pos;
    QNXmlTag tag{};
    if (docReadToken(doc, &tag) != 0) {
        doc->pos = saved;
        return QN_ERR_ARG;
    }
    if (doc->nameHook == nullptr)
        (void)xmlClassifyTag(&tag);
    if (tag.cls != kTagClassDecl) {
        doc->pos = start;
        return 0;
    }
    if (docFindChar(doc, '>') != 0) {
        doc->pos = saved;
        return -1;
    }
    ++doc->pos;
    return 0;
}

int xmlSplitQName(const QNXmlTag *tag, QNXmlQName *out)
{
    if (tag == nullptr || out == nullptr)
        return QN_ERR_ARG;
    std::string_view name(tag->name, strnlen(tag->name, sizeof tag->name));
    size_t colon = name.find(':');
    if (colon == std::string_view::npos) {
        out->prefix[0] = '\0';
        copyBounded(out->local, sizeof out->local, name);
    } else {
        copyBounded(out->prefix, sizeof out->prefix, name.substr(0, colon));
        copyBounded(out->local, sizeof out->local, name.substr(colon + 1));
    }
    return 0;
}

std::string_view xmlLocalName(std::string_view qname)
{
    size_t colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// ---- Leaves ---------------------------------------------------------------------

namespace {

// xmlReadLeaf; nv absent reads the leaf and drops it (surplus leaves).
int readLeaf(QNTextDoc *doc, QNNameVal *nv)
{
    if (!docUsable(doc))
        return QN_ERR_ARG;
    const char *t = doc->text;
    const uint32_t len = doc->len;
    const uint32_t saved = doc->pos;
    auto leave = [&](int state, int ret) {
        doc->pos = saved;
        doc->state = state;
        return ret;
    };

    uint32_t lt = 0;
    if (!findTagFrom(doc, saved, &lt))
        return leave(XS_SYNTAX, -1);
    if (lt >= len)
        return leave(XS_NONE, -1);
    uint32_t p = lt + 1;
    if (p >= len || !skipBlankFrom(doc, p, &p) || p >= len)
        return leave(XS_SYNTAX, -1);
    if (t[p] == '/')
        return leave(XS_NONE, 0);

    uint32_t nameStart = 0;
    uint32_t nameEnd = scanToken(doc, p, &nameStart);
    uint32_t gt = findFrom(doc, nameEnd, '>');
    if (gt >= len)
        return leave(XS_SYNTAX, -1);
    std::string_view name = cutName(t, nameStart, nameEnd - nameStart);

    if (endsEmpty(doc, saved, gt)) {
        if (nv != nullptr) {
            copyBounded(nv->name, sizeof nv->name, name);
            nv->val[0] = '\0';
        }
        doc->pos = gt + 1;
        doc->state = XS_EMPTY;
        return 0;
    }

    p = gt + 1;
    if (p >= len || !skipBlankFrom(doc, p, &p) || p >= len)
        return leave(XS_SYNTAX, -1);
    uint32_t valueStart = p, valueEnd = p, closeFrom = p;
    if (t[p] == '<') {
        uint32_t q = p + 1;
        if (q >= len || !skipBlankFrom(doc, q, &q))
            return leave(XS_SYNTAX, -1);
        if (q >= len || t[q] != '/')
            return leave(XS_NONE, 0); // the element has child elements
        closeFrom = q;
    } else {
        valueEnd = findFrom(doc, p, '<');
        // A comment ends the value; the closing tag is the next tag after it.
        if (!findTagFrom(doc, valueEnd, &closeFrom) || closeFrom >= len)
            return leave(XS_SYNTAX, -1);
    }
    uint32_t closeGt = findFrom(doc, closeFrom, '>');
    if (closeGt >= len)
        return leave(XS_SYNTAX, -1);
    if (nv != nullptr) {
        copyBounded(nv->name, sizeof nv->name, name);
        xmlDecodeText(std::string_view(t + valueStart, valueEnd - valueStart), nv->val, sizeof nv->val);
    }
    doc->pos = closeGt + 1;
    doc->state = XS_ELEMENT;
    return 0;
}

} // namespace

int xmlReadLeaf(QNTextDoc *doc, QNNameVal *nv)
{
    if (nv == nullptr)
        return QN_ERR_ARG;
    return readLeaf(doc, nv);
}

int xmlReadLeafList(QNTextDoc *doc, QNNameVal *arr, int *count)
{
    if (!docUsable(doc) || count == nullptr || *count < 0 || (arr == nullptr && *count > 0))
        return QN_ERR_ARG;
    const int n = *count;
    for (int i = 0; i < n; ++i) {
        int ret = readLeaf(doc, &arr[i]);
        if (doc->state == XS_NONE) {
            *count = i;
            return 0;
        }
        if (ret != 0)
            return ret;
    }
    // Surplus leaves are read and dropped, so that the caller continues
    // after them.
    while (readLeaf(doc, nullptr) == 0 && doc->state != XS_NONE) {
    }
    return 0;
}

// ---- Elements -------------------------------------------------------------------

namespace {

struct StartTag {
    uint32_t nameStart;
    uint32_t nameLen;
    uint32_t gt;
    bool empty;
    bool closing; // a closing tag stood where the element was expected
};

// Steps 1 to 4 of xmlReadElement for the element whose '<' is expected at
// `at` (after blanks). Sets doc->state on failure and for a closing tag.
int readStartTag(QNTextDoc *doc, uint32_t at, StartTag *st, int *where)
{
    const char *t = doc->text;
    const uint32_t len = doc->len;
    st->closing = false;
    uint32_t p = at;
    if (!skipBlankFrom(doc, at, &p)) {
        doc->state = XS_SYNTAX;
        *where = 1;
        return -1;
    }
    if (p >= len) {
        doc->state = XS_NONE;
        *where = 2;
        return -1;
    }
    if (t[p] != '<') {
        doc->state = XS_SYNTAX;
        *where = 3;
        return -1;
    }
    ++p;
    if (p >= len) {
        doc->state = XS_END_LT;
        *where = 4;
        return -1;
    }
    if (!skipBlankFrom(doc, p, &p)) {
        doc->state = XS_SYNTAX;
        *where = 5;
        return -1;
    }
    if (p >= len) {
        doc->state = XS_END_LT;
        *where = 6;
        return -1;
    }
    if (t[p] == '/') {
        st->closing = true;
        doc->state = XS_NONE;
        return 0;
    }
    uint32_t nameEnd = scanToken(doc, p, &st->nameStart);
    st->nameLen = nameEnd - st->nameStart;
    st->gt = findFrom(doc, nameEnd, '>');
    if (st->gt >= len) {
        doc->state = XS_SYNTAX;
        *where = 7;
        return -1;
    }
    st->empty = endsEmpty(doc, at, st->gt);
    return 0;
}

struct NameRange {
    uint32_t start;
    uint32_t len;
};

// Where reading an element's content failed: the failure point printed and
// the nesting depth of the element it belongs to.
struct ContentFailure {
    int where;
    int depth;
};

// Step 5 of xmlReadElement: walks the content that starts at p, up to the
// closing tag of the element named `name`, keeping the names of the open
// elements on a stack of kMaxXmlDepth entries instead of recursing. Returns
// the offset of the element's closing '<', or len with *failure set.
uint32_t readContent(QNTextDoc *doc, NameRange name, uint32_t p, ContentFailure *failure)
{
    const char *t = doc->text;
    const uint32_t len = doc->len;
    NameRange open[kMaxXmlDepth];
    int depth = 1;
    open[0] = name;
    auto fail = [&](int where, int failDepth) {
        *failure = {where, failDepth};
        return len;
    };
    for (;;) {
        uint32_t lt = 0;
        if (!findTagFrom(doc, p, &lt))
            return fail(11, depth);
        if (lt >= len)
            return fail(10, depth);
        uint32_t q = lt + 1;
        if (q >= len || !skipBlankFrom(doc, q, &q))
            return fail(11, depth);
        if (q < len && t[q] == '/') {
            uint32_t closeStart = 0;
            uint32_t closeEnd = scanToken(doc, q, &closeStart);
            const NameRange &top = open[depth - 1];
            if (cutName(t, closeStart, closeEnd - closeStart) != cutName(t, top.start, top.len))
                return fail(12, depth);
            if (findFrom(doc, closeEnd, '>') >= len)
                return fail(13, depth);
            if (--depth == 0)
                return lt;
            // The parent goes on after the first '>' behind the child's
            // closing '<'.
            p = findFrom(doc, lt, '>') + 1;
            continue;
        }
        // A child element starts at lt.
        if (depth >= kMaxXmlDepth)
            return fail(14, depth + 1);
        StartTag child{};
        int where = 0;
        if (readStartTag(doc, lt, &child, &where) != 0)
            return fail(where, depth + 1);
        if (child.closing) {
            // Not reached since findTagFrom passes over comments: a closing
            // tag is taken above. Should one come here, the parent goes on
            // after the next '>'.
            p = findFrom(doc, lt, '>') + 1;
        } else if (child.empty) {
            p = child.gt + 1;
        } else {
            open[depth++] = {child.nameStart, child.nameLen};
            p = child.gt + 1;
        }
    }
}

// Reads the element at doc->pos into out; the shared body of
// xmlReadElement and xmlReadElementAt. pos is always restored.
int readElement(QNTextDoc *doc, XmlChild *out, bool *empty)
{
    const uint32_t saved = doc->pos;
    int where = 0;
    StartTag st{};
    *empty = false;
    int ret = readStartTag(doc, saved, &st, &where);
    doc->pos = saved;
    if (ret != 0) {
        failPoint(where);
        return -1;
    }
    if (st.closing)
        return 0;
    out->nameStart = st.nameStart;
    out->nameLen = st.nameLen;
    if (st.empty) {
        out->start = out->end = st.gt + 1;
        *empty = true;
        doc->state = XS_EMPTY;
        return 0;
    }
    out->start = st.gt + 1;
    ContentFailure failure{};
    uint32_t end = readContent(doc, {st.nameStart, st.nameLen}, st.gt + 1, &failure);
    doc->pos = saved;
    if (end < doc->len) {
        out->end = end;
        doc->state = XS_ELEMENT;
        return 0;
    }
    // Each element around the one that failed reports it, as the recursive
    // reader of the Part does.
    failPoint(failure.where);
    for (int i = 1; i < failure.depth; ++i)
        debugPrint(LOG_XML, "R sub desc failed\r\n", LOG_DETAIL);
    doc->state = XS_SYNTAX;
    return -1;
}

} // namespace

int xmlReadElement(QNTextDoc *doc, QNXmlTag *tag, uint32_t *contentStart, uint32_t *contentEnd)
{
    if (!docUsable(doc) || tag == nullptr || contentStart == nullptr || contentEnd == nullptr)
        return QN_ERR_ARG;
    *contentEnd = doc->pos;
    XmlChild found{};
    bool empty = false;
    int ret = readElement(doc, &found, &empty);
    if (ret != 0 || doc->state == XS_NONE)
        return ret;
    *contentEnd = found.end;
    if (empty)
        return 0;
    *contentStart = found.start;
    QNXmlTag read{};
    copyBounded(read.name, sizeof read.name, cutName(doc->text, found.nameStart, found.nameLen));
    if (doc->nameHook != nullptr)
        (void)doc->nameHook(&read);
    *tag = read;
    return 0;
}

int xmlReadElementAt(QNTextDoc *doc, XmlChild *out)
{
    if (!docUsable(doc) || out == nullptr)
        return QN_ERR_ARG;
    bool empty = false;
    return readElement(doc, out, &empty);
}

void xmlMovePast(QNTextDoc *doc, const XmlChild &child, int state)
{
    if (!docUsable(doc))
        return;
    uint32_t at = child.end < doc->len ? child.end : doc->len;
    if (state == XS_ELEMENT) { // end is the '<' of the closing tag
        while (at < doc->len && doc->text[at] != '>')
            ++at;
        at = at < doc->len ? at + 1 : doc->len;
    }
    doc->pos = at;
}

std::string_view xmlPeekName(const QNTextDoc *doc)
{
    if (!docUsable(doc))
        return {};
    uint32_t start = 0;
    uint32_t end = scanToken(doc, doc->pos, &start);
    return cutName(doc->text, start, end - start);
}

std::string_view xmlChildName(const QNTextDoc *doc, const XmlChild &child)
{
    if (doc == nullptr || doc->text == nullptr || child.nameStart > doc->len ||
        child.nameLen > doc->len - child.nameStart)
        return {};
    return cutName(doc->text, child.nameStart, child.nameLen);
}

// ---- Children ---------------------------------------------------------------------

namespace {

// Where xmlReadChildren puts the containers it finds.
struct ChildSink {
    QNXmlTag *tags = nullptr;
    uint32_t *starts = nullptr;
    uint32_t *ends = nullptr;
    XmlChild *kids = nullptr;

    void store(const QNTextDoc *doc, int i, const XmlChild &c, bool written) const
    {
        if (kids != nullptr) {
            kids[i] = c;
            if (!written)
                kids[i].nameLen = 0;
            return;
        }
        QNXmlTag tag{};
        if (written) {
            copyBounded(tag.name, sizeof tag.name, cutName(doc->text, c.nameStart, c.nameLen));
            if (doc->nameHook != nullptr)
                (void)doc->nameHook(&tag);
        }
        tags[i] = tag;
        starts[i] = c.start;
        ends[i] = c.end;
    }
};

int readChildren(QNTextDoc *doc, QNNameVal *leaves, int *leafCount, const ChildSink &sink, int *childCount)
{
    const int leafCap = leafCount != nullptr ? *leafCount : 0;
    const int childCap = childCount != nullptr ? *childCount : 0;
    if (leafCap < 0 || childCap < 0 || (leafCap > 0 && leaves == nullptr))
        return QN_ERR_ARG;
    int leafTotal = 0;
    int children = 0;
    for (;;) {
        int room = leafCap - leafTotal;
        int ret = xmlReadLeafList(doc, leafCap > 0 ? leaves + leafTotal : nullptr, &room);
        if (ret != 0)
            return ret;
        leafTotal += room;
        if (childCap == 0)
            break;
        XmlChild found{};
        bool empty = false;
        ret = readElement(doc, &found, &empty);
        if (doc->state == XS_NONE)
            break;
        if (children == childCap)
            return kXmlErrCapacity;
        // An empty element here stores an empty name, as the Part's reader
        // leaves the tag unwritten for it.
        sink.store(doc, children, found, ret == 0 && !empty);
        if (ret != 0) {
            debugPrint(LOG_XML, "Sub desc parsing - failed\r\n", LOG_DETAIL);
            return kXmlErrContainer;
        }
        doc->pos = found.end;
        ++children;
        if (docFindChar(doc, '>') != 0)
            return kXmlErrContainer;
        ++doc->pos;
    }
    if (childCap > 0)
        *childCount = children;
    if (leafCap > 0)
        *leafCount = leafTotal;
    doc->state = XS_ELEMENT;
    return 0;
}

} // namespace

int xmlReadChildren(QNTextDoc *doc, QNNameVal *leaves, int *leafCount, QNXmlTag *tags,
                    uint32_t *starts, uint32_t *ends, int *childCount)
{
    if (!docUsable(doc))
        return QN_ERR_ARG;
    if (childCount != nullptr && *childCount > 0 && (tags == nullptr || starts == nullptr || ends == nullptr))
        return QN_ERR_ARG;
    ChildSink sink;
    sink.tags = tags;
    sink.starts = starts;
    sink.ends = ends;
    return readChildren(doc, leaves, leafCount, sink, childCount);
}

int xmlReadChildList(QNTextDoc *doc, QNNameVal *leaves, int *leafCount, XmlChild *kids, int *childCount)
{
    if (!docUsable(doc))
        return QN_ERR_ARG;
    if (childCount != nullptr && *childCount > 0 && kids == nullptr)
        return QN_ERR_ARG;
    ChildSink sink;
    sink.kids = kids;
    return readChildren(doc, leaves, leafCount, sink, childCount);
}

// ---- Document kinds -------------------------------------------------------------

void xmlDocOpen(QNTextDoc *doc, const QNTextDoc &kind, char *buf, uint32_t bufSize)
{
    if (doc == nullptr)
        return;
    *doc = kind;
    docInitRead(doc, buf);
    doc->size = bufSize;
}
