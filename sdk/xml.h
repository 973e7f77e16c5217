// The XML layer: document kinds, the known-name table, the
// element readers and the generic element writers. No document tree is
// built and nothing is allocated: a reader walks the caller's NUL-terminated
// text forward with the cursor of text.h, storing leaf children as
// QNNameVal pairs and reporting container children by their offsets.
//
// Differences from a plain reading of the Part, decided for the stack:
// - Leaf values are decoded: the five predefined entities and numeric
//   character references become the text they stand for (xmlDecodeText).
// - Writers escape '&', '<' and '>' in every name and value they write, and
//   leave out a leaf whose name they cannot write as well-formed XML (see
//   xmlNameWritable).
// - xmlReadElement refuses nesting deeper than kMaxXmlDepth (syntax error).
// - Comments are passed over wherever blanks are, also before a leaf and
//   before a closing tag, and a UTF-8 byte-order mark that starts a document
//   is skipped with its declaration (xmlSkipDecl).
// - Offsets are 32-bit; documents up to kMaxDocument bytes are read.
#pragma once

#include "qnLimits.h"
#include "text.h"

#include <cstdint>
#include <string_view>

// ---- Document kinds ---------------------------------------------------------

// The three XML document kinds. Each kind's template (a QNTextDoc with its
// parse and serialise operations) lives beside its model: kDescDocKind
// (desc.h), kScpdDocKind (scpd.h), kSoapDocKind (soapParse.h).
enum XmlDocKind : int {
    XK_DESC = 0, // description document: parseDesc / writeDesc, QNRootDesc
    XK_SCPD = 1, // SCPD document: parseScpd / writeScpd, QNScpd
    XK_SOAP = 2, // SOAP envelope or property set: parseSoap / writeSoap, QNApiAction
};

// Delimiters of the XML kinds: less-than, greater-than, question mark,
// backslash, slash and full stop.
inline constexpr char kXmlDelims[] = "<>?\\/.";

using XmlParseFn = int (*)(QNTextDoc *doc, void *model);
using XmlSerializeFn = int (*)(QNTextDoc *doc, void *model);

// The part every XML kind shares: the delimiters, xmlClassifyTag as the name
// hook and docAppend as the write operation, with the kind's operations.
constexpr QNTextDoc xmlDocKind(XmlParseFn parse, XmlSerializeFn serialize);

// Makes doc a copy of kind that reads the NUL-terminated text in buf (pos 0,
// len = its length) and may write back into it: size is bufSize, so a
// parse that rewrites the text (parseDesc, parseSoap) stays inside buf.
void xmlDocOpen(QNTextDoc *doc, const QNTextDoc &kind, char *buf, uint32_t bufSize);

// ---- Reader outcome -----------------------------------------------------------

// doc->state after an element-level read.
enum XmlState : int {
    XS_ELEMENT = 0,  // an element was read completely
    XS_EMPTY = 1,    // an empty element (<name/>, attributes allowed)
    XS_SYNTAX = 2,   // syntax error; pos is back where the read started
    XS_END_LT = 3,   // the text ended directly after a '<'
    XS_NONE = 4,     // no element here: a closing tag, no further '<', or
                     // (leaf reads) an element with child elements
};

// Results beyond 0 / -1 / QN_ERR_ARG.
inline constexpr int kXmlErrCapacity = QN_ERR_NOMEM; // more containers than slots
inline constexpr int kXmlErrContainer = -500;        // a container could not be read

// ---- Known-name table ----------------------------------------------------------

// Tag classes. Only kTagClassDecl drives behaviour (xmlSkipDecl); the others
// travel with the tag. kTagClassRaw (text.h) marks a tag not to classify.
enum XmlTagClass : int {
    TC_NONE = 0,
    TC_NUMBER = 1,
    TC_TEXT = 2,
    TC_URL = 3,
    TC_ID = 4,
    TC_RAW = kTagClassRaw,
    TC_DECL = 6,
    TC_GROUP = 7,
};
inline constexpr int kTagClassDecl = TC_DECL;

struct XmlKnownName {
    const char *name;
    int cls;
};
inline constexpr int kXmlKnownNameRows = 20;
extern const XmlKnownName kXmlKnownNames[kXmlKnownNameRows];

// ---- Readers -----------------------------------------------------------------
// All take the cursor first and return 0, -1 (syntax failure or end of text;
// doc->state says which) or QN_ERR_ARG (absent document, text or output, or
// pos beyond the text). Element readers set doc->state.

// Skips blanks and any number of comments. -1 when pos is already at the end
// of the text or the text ends inside a comment.
int xmlSkipBlank(QNTextDoc *doc);

// Moves past a leading UTF-8 byte-order mark and a leading XML declaration
// ("<?xml ...?>"); any other first token leaves pos after the mark, or
// unchanged without one. -1 (pos unchanged) when the declaration has no
// closing '>'.
int xmlSkipDecl(QNTextDoc *doc);

// The name hook: looks tag->name up in the known-name table and sets index
// and class from the matching row (0); -1 without a match. A tag of class
// kTagClassRaw is left untouched (0).
int xmlClassifyTag(QNXmlTag *tag);

// Reads one leaf element at or after pos into nv: name cut to 127 bytes,
// value decoded (xmlDecodeText) and cut to at most 511 bytes on a character
// boundary. Comments before the element are passed over. Leading blanks and
// comments of the value are dropped, trailing blanks stay; a comment after
// the value ends it (text after the comment is dropped). State 0 (read), 1
// (empty element, empty value) or 4 with result 0 and pos unchanged (a
// closing tag or an element with children). On any failure nv is untouched
// and pos is restored.
int xmlReadLeaf(QNTextDoc *doc, QNNameVal *nv);

// Reads consecutive leaves into arr. *count: capacity in, number stored out.
// Leaves beyond the capacity are read and dropped. Stops at state 4 (0).
int xmlReadLeafList(QNTextDoc *doc, QNNameVal *arr, int *count);

// Reads one element of any depth (at most kMaxXmlDepth levels, this element
// being level 1), checking that start and closing tag names match at every
// level and passing over comments. State 0: tag = its start tag,
// *contentStart = one past the start tag, *contentEnd = the '<' of its
// closing tag. State 1 (empty element): only *contentEnd is written, one
// past its '>'. pos is always left where the read started.
int xmlReadElement(QNTextDoc *doc, QNXmlTag *tag, uint32_t *contentStart, uint32_t *contentEnd);

// Reads all children of the current element: leaves into leaves (*leafCount
// capacity in, stored out; surplus dropped), containers into the parallel
// arrays tags, starts, ends (*childCount capacity in, stored out). Either
// group is switched off by a capacity of 0 (its arrays may then be absent).
// Returns 0 with pos before the parent's closing tag, kXmlErrCapacity for a
// container beyond the capacity, kXmlErrContainer when a container could not
// be read, or a leaf reader's failure.
int xmlReadChildren(QNTextDoc *doc, QNNameVal *leaves, int *leafCount, QNXmlTag *tags,
                    uint32_t *starts, uint32_t *ends, int *childCount);

// A tag name split at its first colon.
struct QNXmlQName {
    char prefix[QN_NAME_MAX_LEN];
    char local[QN_NAME_MAX_LEN];
};
int xmlSplitQName(const QNXmlTag *tag, QNXmlQName *out);

// ---- Compact forms for the grammar layers ------------------------------------
// The description, SCPD and SOAP parsers read containers by offsets only, so
// that a list of 128 state variables costs 2 KiB of stack, not 17.

// One container child: its start tag's name as a range of the text, its
// content start and its closing tag's '<' (one past '>' when empty).
struct XmlChild {
    uint32_t nameStart;
    uint32_t nameLen;
    uint32_t start;
    uint32_t end;
};

// The name of a child as xmlReadChildren would store it (cut to 127 bytes).
std::string_view xmlChildName(const QNTextDoc *doc, const XmlChild &child);

// xmlReadChildren with containers stored as XmlChild records.
int xmlReadChildList(QNTextDoc *doc, QNNameVal *leaves, int *leafCount, XmlChild *kids, int *childCount);

// xmlReadElement that also reports the name of an empty element. Same
// results and states; *out is written for states 0 and 1 (for state 1,
// start is one past '>' and end equals it).
int xmlReadElementAt(QNTextDoc *doc, XmlChild *out);

// Moves pos past the element xmlReadElementAt just read into child, with
// the state it reported (XS_ELEMENT or XS_EMPTY), so that a reader can pass
// over children it does not keep.
void xmlMovePast(QNTextDoc *doc, const XmlChild &child, int state);

// The token docPeekToken would read at pos (cut to 127 bytes), as a view
// into the text; pos does not move and no hook is called.
std::string_view xmlPeekName(const QNTextDoc *doc);

// The part of a qualified name after its first colon (all of it without one).
std::string_view xmlLocalName(std::string_view qname);

// ---- Text ------------------------------------------------------------------------

// Decodes character data into dst (dstSize bytes, always terminated unless
// dstSize is 0): &lt; &gt; &amp; &quot; &apos; and &#NNN; / &#xHHH; become
// the characters they stand for (UTF-8). A reference that is not one of
// those, or names a code point XML does not allow (NUL, surrogates, beyond
// U+10FFFF, other C0 controls), stays as written. Output that does not fit
// is cut before the first character that does not fit whole, so no UTF-8
// sequence (decoded or copied) is split. Returns the bytes stored.
size_t xmlDecodeText(std::string_view src, char *dst, size_t dstSize);

// True when name can be written as an element name of a well-formed,
// namespace-well-formed document: an XML name of valid UTF-8, and when it
// carries a prefix, one that is "xml" or is declared in ns (name = prefix,
// val = namespace URI, nsCount entries).
bool xmlNameWritable(std::string_view name, const QNNameVal *ns, int nsCount);

// The namespace URI declared for prefix in ns, or nullptr.
const char *xmlFindNamespace(const QNNameVal *ns, int nsCount, std::string_view prefix);

// ---- Writers --------------------------------------------------------------------
// Text goes through doc->write (docAppend for the XML kinds) and is cut at
// the document's size. Indentation unit and line end are both empty, so a
// written document is its declaration line and one line of elements.

inline constexpr char kXmlDeclLine[] = "<?xml version=\"1.0\"?>\r\n";

int writeIndent(QNTextDoc *doc, int depth);
int writeStartTag(QNTextDoc *doc, const char *name);
int writeEndTag(QNTextDoc *doc, const char *name);
// Writes <name>value</name> with name and value escaped. A leaf whose name
// xmlNameWritable refuses (without declarations: any prefixed name) is left
// out; the result is still 0.
int writeLeaf(QNTextDoc *doc, const QNNameVal *nv, int depth);
// writeLeaf for each of the n pairs; QN_ERR_ARG when n is 0.
int writeLeafList(QNTextDoc *doc, const QNNameVal *arr, int n, int depth);

// writeLeaf / writeLeafList that may write the prefixes declared in ns.
int writeLeafNs(QNTextDoc *doc, const QNNameVal *nv, int depth, const QNNameVal *ns, int nsCount);
int writeLeafListNs(QNTextDoc *doc, const QNNameVal *arr, int n, int depth, const QNNameVal *ns,
                    int nsCount);

// Markup written as it is, and text written escaped: '&', '<', '>' and CR
// always; in an attribute value also '"', tab and LF; in element content a
// blank that starts the text (which the leaf reader would drop). So what a
// leaf reader reads back is the text that was written.
int xmlWriteRaw(QNTextDoc *doc, const char *markup);
int xmlWriteText(QNTextDoc *doc, std::string_view text, bool attribute);

// A sequence of writes that keeps the first failure in err; once a write
// has failed the later ones are skipped (then() does not call its write).
struct XmlOut {
    QNTextDoc *doc;
    int err = 0;

    XmlOut &raw(const char *markup)
    {
        if (err == 0)
            err = xmlWriteRaw(doc, markup);
        return *this;
    }
    XmlOut &text(std::string_view value, bool attribute)
    {
        if (err == 0)
            err = xmlWriteText(doc, value, attribute);
        return *this;
    }
    XmlOut &leaf(const QNNameVal &nv, int depth)
    {
        if (err == 0)
            err = writeLeaf(doc, &nv, depth);
        return *this;
    }
    template <typename Write> XmlOut &then(Write write)
    {
        if (err == 0)
            err = write();
        return *this;
    }
};

// A document writer's frame: xmlBeginDoc sets pos to 0 and writes the
// declaration line; xmlEndDoc sets pos back to 0 and returns 0, or
// QN_ERR_NOMEM when the output filled the buffer (it was probably cut).
int xmlBeginDoc(QNTextDoc *doc);
int xmlEndDoc(QNTextDoc *doc);

// ---- Definitions of the constexpr helper --------------------------------------

constexpr QNTextDoc xmlDocKind(XmlParseFn parse, XmlSerializeFn serialize)
{
    QNTextDoc kind{};
    kind.delims = kXmlDelims;
    kind.nameHook = xmlClassifyTag;
    kind.write = docAppend;
    kind.parse = parse;
    kind.serialize = serialize;
    return kind;
}
