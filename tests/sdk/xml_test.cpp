// The XML layer: tokenizer boundaries, leaves, elements,
// children, entity decoding, truncation, nesting bound and the writers.
#include "log.h"
#include "xml.h"
#include "xmlFixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qntest::DocBuffer;

std::string console;
void captureConsole(const char *text) { console += text; }

class Xml : public ::testing::Test {
protected:
    void SetUp() override
    {
        console.clear();
        setConsoleSink(captureConsole);
    }
    void TearDown() override { setConsoleSink(nullptr); }
};

// ---- Blanks, comments, declaration ------------------------------------------

TEST_F(Xml, SkipBlankPassesBlanksAndComments)
{
    DocBuffer b(" \t\r\n<!-- one --> <!-- two -->\n<a/>");
    ASSERT_EQ(xmlSkipBlank(&b.doc), 0);
    EXPECT_EQ(b.text().substr(b.doc.pos), "<a/>");

    DocBuffer unterminated("  <!-- never ends -");
    EXPECT_EQ(xmlSkipBlank(&unterminated.doc), -1);

    DocBuffer atEnd("x");
    atEnd.doc.pos = 1;
    EXPECT_EQ(xmlSkipBlank(&atEnd.doc), -1);
    atEnd.doc.pos = 2;
    EXPECT_EQ(xmlSkipBlank(&atEnd.doc), QN_ERR_ARG);
    EXPECT_EQ(xmlSkipBlank(nullptr), QN_ERR_ARG);
}

TEST_F(Xml, SkipDeclSkipsOnlyTheByteOrderMarkAndTheDeclaration)
{
    struct Case {
        const char *name;
        const char *text;
        int ret;
        const char *rest; // the text after pos
    };
    const Case cases[] = {
        {"declaration", "<?xml version=\"1.0\"?>\r\n<root/>", 0, "\r\n<root/>"},
        {"no declaration", "<root/>", 0, "<root/>"},
        {"open declaration", "<?xml version=\"1.0\"", -1, "<?xml version=\"1.0\""},
        {"mark and declaration", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<root/>", 0, "\n<root/>"},
        {"mark without declaration", "\xEF\xBB\xBF<root/>", 0, "<root/>"},
        {"mark and open declaration", "\xEF\xBB\xBF<?xml", -1, "\xEF\xBB\xBF<?xml"},
        {"only the mark", "\xEF\xBB\xBF", 0, ""},
        {"two bytes of a mark", "\xEF\xBB<root/>", 0, "\xEF\xBB<root/>"},
        {"mark after a blank", " \xEF\xBB\xBF<root/>", 0, " \xEF\xBB\xBF<root/>"},
    };
    for (const Case &c : cases) {
        DocBuffer b(c.text);
        EXPECT_EQ(xmlSkipDecl(&b.doc), c.ret) << c.name;
        EXPECT_EQ(b.text().substr(b.doc.pos), c.rest) << c.name;
    }
}

TEST_F(Xml, ClassifyTagUsesTheKnownNameTable)
{
    QNXmlTag tag{};
    std::strcpy(tag.name, "SCPDURL");
    ASSERT_EQ(xmlClassifyTag(&tag), 0);
    EXPECT_EQ(tag.index, 18);
    EXPECT_EQ(tag.cls, TC_URL);

    QNXmlTag raw{};
    raw.cls = kTagClassRaw;
    std::strcpy(raw.name, "xml");
    EXPECT_EQ(xmlClassifyTag(&raw), 0);
    EXPECT_EQ(raw.cls, kTagClassRaw);

    QNXmlTag unknown{};
    std::strcpy(unknown.name, "scpdurl"); // case-sensitive
    EXPECT_EQ(xmlClassifyTag(&unknown), -1);
    EXPECT_EQ(unknown.cls, 0);
}

// ---- Leaves -------------------------------------------------------------------

struct LeafCase {
    const char *name;
    const char *text;
    int ret;
    int state;
    const char *leafName; // nullptr: the pair must stay untouched
    const char *value;
    int pos;              // -1: at the end of the text
};

TEST_F(Xml, ReadLeafCases)
{
    const LeafCase cases[] = {
        {"blanks around value", "<a>  text  </a>", 0, XS_ELEMENT, "a", "text  ", -1},
        {"comment only", "<a><!-- c --></a>", 0, XS_ELEMENT, "a", "", -1},
        {"empty element", "<a/>", 0, XS_EMPTY, "a", "", -1},
        {"empty with attribute", "<a x=\"1\" />", 0, XS_EMPTY, "a", "", -1},
        {"closing name not compared", "<a>x</b>", 0, XS_ELEMENT, "a", "x", -1},
        {"element with children", "<a><b>1</b></a>", 0, XS_NONE, nullptr, nullptr, 0},
        {"closing tag", "  </a>", 0, XS_NONE, nullptr, nullptr, 0},
        {"no element", "   ", -1, XS_NONE, nullptr, nullptr, 0},
        {"end inside start tag", "<a", -1, XS_SYNTAX, nullptr, nullptr, 0},
        {"end after <", "<", -1, XS_SYNTAX, nullptr, nullptr, 0},
        {"end after start tag", "<a>", -1, XS_SYNTAX, nullptr, nullptr, 0},
        {"end inside value", "<a>value", -1, XS_SYNTAX, nullptr, nullptr, 0},
        {"end inside closing tag", "<a>value</a", -1, XS_SYNTAX, nullptr, nullptr, 0},
        {"end inside comment", "<a><!-- c", -1, XS_SYNTAX, nullptr, nullptr, 0},
        {"end inside comment before value", "<a> <!-- c -", -1, XS_SYNTAX, nullptr, nullptr, 0},
        {"prefix kept", "<dlna:X_DLNADOC xmlns:dlna=\"urn:x\">DMS-1.50</dlna:X_DLNADOC>", 0, XS_ELEMENT,
         "dlna:X_DLNADOC", "DMS-1.50", -1},
        {"text before the element", "junk <a>1</a>tail", 0, XS_ELEMENT, "a", "1", 13},
        {"comment before the element", "<!-- c --><a>1</a>", 0, XS_ELEMENT, "a", "1", -1},
        {"comments with markup before", " <!-- <b>2</b> > --> <!----><a>1</a>", 0, XS_ELEMENT, "a", "1", -1},
        {"comment before a closing tag", "<!-- c --></p>", 0, XS_NONE, nullptr, nullptr, 0},
        {"comment before a container", "<!-- c --><a><b>1</b></a>", 0, XS_NONE, nullptr, nullptr, 0},
        {"comment before the end of text", "<!-- c --> ", -1, XS_NONE, nullptr, nullptr, 0},
        {"open comment before the element", "<!-- <a>1</a>", -1, XS_SYNTAX, nullptr, nullptr, 0},
        {"comment after the value", "<a>100 <!-- % --></a>", 0, XS_ELEMENT, "a", "100 ", -1},
        {"text after a comment in the value", "<a>1<!-- c -->2</a>", 0, XS_ELEMENT, "a", "1", -1},
        {"open comment after the value", "<a>1<!-- </a>", -1, XS_SYNTAX, nullptr, nullptr, 0},
    };
    for (const LeafCase &c : cases) {
        DocBuffer b(c.text);
        QNNameVal nv;
        std::strcpy(nv.name, "old");
        std::strcpy(nv.val, "old");
        EXPECT_EQ(xmlReadLeaf(&b.doc, &nv), c.ret) << c.name;
        EXPECT_EQ(b.doc.state, c.state) << c.name;
        EXPECT_STREQ(nv.name, c.leafName ? c.leafName : "old") << c.name;
        EXPECT_STREQ(nv.val, c.value ? c.value : "old") << c.name;
        EXPECT_EQ(b.doc.pos, c.pos < 0 ? b.doc.len : static_cast<uint32_t>(c.pos)) << c.name;
    }
}

TEST_F(Xml, ReadLeafCutsNamesAt127AndValuesAt511)
{
    std::string name(200, 'n');
    std::string value(600, 'v');
    DocBuffer b("<" + name + ">" + value + "</" + name + ">");
    QNNameVal nv{};
    ASSERT_EQ(xmlReadLeaf(&b.doc, &nv), 0);
    EXPECT_EQ(std::string(nv.name), std::string(127, 'n'));
    EXPECT_EQ(std::string(nv.val), std::string(511, 'v'));
    EXPECT_EQ(b.doc.pos, b.doc.len);

    // The last that fits and the first that does not.
    for (size_t n : {510u, 511u, 512u}) {
        DocBuffer edge("<a>" + std::string(n, 'x') + "</a>");
        ASSERT_EQ(xmlReadLeaf(&edge.doc, &nv), 0);
        EXPECT_EQ(std::strlen(nv.val), std::min<size_t>(n, 511)) << n;
    }
}

TEST_F(Xml, ReadLeafNeverSplitsAUtf8Character)
{
    QNNameVal nv{};
    // "é" is two bytes: at offset 510 it would need bytes 510 and 511.
    DocBuffer two("<a>" + std::string(510, 'x') + "\xC3\xA9" + "</a>");
    ASSERT_EQ(xmlReadLeaf(&two.doc, &nv), 0);
    EXPECT_EQ(std::string(nv.val), std::string(510, 'x'));

    // A four-byte character cut after each of its first three bytes.
    for (size_t lead : {508u, 509u, 510u}) {
        DocBuffer four("<a>" + std::string(lead, 'x') + "\xF0\x9F\x98\x80" + "</a>");
        ASSERT_EQ(xmlReadLeaf(&four.doc, &nv), 0);
        EXPECT_EQ(std::string(nv.val), std::string(lead, 'x')) << lead;
    }
    DocBuffer fits("<a>" + std::string(507, 'x') + "\xF0\x9F\x98\x80" + "yy</a>");
    ASSERT_EQ(xmlReadLeaf(&fits.doc, &nv), 0);
    EXPECT_EQ(std::string(nv.val), std::string(507, 'x') + "\xF0\x9F\x98\x80");
}

// ---- Entities -----------------------------------------------------------------

struct DecodeCase {
    const char *name;
    const char *text;
    const char *decoded;
};

TEST_F(Xml, LeafValuesDecodeEntitiesAndCharacterReferences)
{
    const DecodeCase cases[] = {
        {"ampersand", "AT&amp;T", "AT&T"},
        {"didl fragment", "&lt;DIDL-Lite xmlns=&quot;urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/&quot;&gt;"
                          "&lt;item id=&apos;1&apos;/&gt;&lt;/DIDL-Lite&gt;",
         "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\"><item id='1'/></DIDL-Lite>"},
        {"decimal", "&#65;&#233;&#9;", "A\xC3\xA9\t"},
        {"hex", "&#x42;&#x20AC;&#x1F600;", "B\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"leading zeros", "&#0000065;&#x0041;", "AA"},
        {"upper-case X is no reference", "&#X43;", "&#X43;"},
        {"nul", "&#0;", "&#0;"},
        {"control character", "&#1;", "&#1;"},
        {"surrogate", "&#xD800;", "&#xD800;"},
        {"beyond unicode", "&#x110000;", "&#x110000;"},
        {"overflowing digits", "&#99999999999999999999999;", "&#99999999999999999999999;"},
        {"no digits", "&#;&#x;", "&#;&#x;"},
        {"no semicolon", "&amp &lt", "&amp &lt"},
        {"unknown entity", "&nbsp;&foo;", "&nbsp;&foo;"},
        {"bare ampersand", "a & b &", "a & b &"},
        {"double escaped", "&amp;amp;", "&amp;"},
    };
    for (const DecodeCase &c : cases) {
        DocBuffer b(std::string("<v>") + c.text + "</v>");
        QNNameVal nv{};
        ASSERT_EQ(xmlReadLeaf(&b.doc, &nv), 0) << c.name;
        EXPECT_STREQ(nv.val, c.decoded) << c.name;
    }
}

TEST_F(Xml, DecodedReferenceThatDoesNotFitIsLeftOutWhole)
{
    QNNameVal nv{};
    // Two bytes left: a four-byte reference does not fit and is left out.
    DocBuffer big("<a>" + std::string(509, 'x') + "&#x1F600;</a>");
    ASSERT_EQ(xmlReadLeaf(&big.doc, &nv), 0);
    EXPECT_EQ(std::string(nv.val), std::string(509, 'x'));
    // One byte left: an entity of one character still fits.
    DocBuffer one("<a>" + std::string(510, 'x') + "&amp;&amp;</a>");
    ASSERT_EQ(xmlReadLeaf(&one.doc, &nv), 0);
    EXPECT_EQ(std::string(nv.val), std::string(510, 'x') + "&");
}

TEST_F(Xml, DecodeTextStaysInsideItsBuffer)
{
    struct Case {
        const char *src;
        size_t size;
        const char *out;
    };
    const Case cases[] = {
        {"&#x1F600;", 4, ""},          {"&#x1F600;", 5, "\xF0\x9F\x98\x80"},
        {"ab\xE2\x82\xAC", 4, "ab"},  {"ab\xE2\x82\xAC", 6, "ab\xE2\x82\xAC"},
        {"\xFF\xFF\xFF\xFF", 3, "\xFF\xFF"}, {"\x80\x80\x80\x80\x80", 3, "\x80\x80"},
        {"abc", 1, ""},                {"&lt;&lt;", 2, "<"},
    };
    for (const Case &c : cases) {
        std::vector<char> buf(c.size + 8, '#');
        size_t n = xmlDecodeText(c.src, buf.data(), c.size);
        EXPECT_EQ(std::string(buf.data()), c.out) << c.src << " in " << c.size;
        EXPECT_EQ(n, std::strlen(c.out));
        for (size_t i = c.size; i < buf.size(); ++i)
            ASSERT_EQ(buf[i], '#') << "wrote beyond the buffer";
    }
    EXPECT_EQ(xmlDecodeText("abc", nullptr, 4), 0u);
}

// ---- Leaf lists ---------------------------------------------------------------

TEST_F(Xml, LeafListDropsSurplusAndStopsAtAContainer)
{
    DocBuffer three("<a>1</a><b>2</b><c>3</c></p>");
    QNNameVal arr[2]{};
    int count = 2;
    ASSERT_EQ(xmlReadLeafList(&three.doc, arr, &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_STREQ(arr[1].name, "b");
    EXPECT_EQ(three.text().substr(three.doc.pos), "</p>");

    DocBuffer mixed("<a>1</a><list><x>1</x></list><b>2</b>");
    QNNameVal four[4]{};
    count = 4;
    ASSERT_EQ(xmlReadLeafList(&mixed.doc, four, &count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(mixed.text().substr(mixed.doc.pos), "<list><x>1</x></list><b>2</b>");

    DocBuffer broken("<a>1</a><b>2");
    count = 4;
    EXPECT_EQ(xmlReadLeafList(&broken.doc, four, &count), -1);

    count = 1;
    EXPECT_EQ(xmlReadLeafList(&three.doc, nullptr, &count), QN_ERR_ARG);
}

// ---- Elements -----------------------------------------------------------------

TEST_F(Xml, ReadElementReportsTagAndContentRange)
{
    const std::string text = "  <a><b/><c>1</c></a>tail";
    DocBuffer b(text);
    QNXmlTag tag{};
    uint32_t start = 0, end = 0;
    ASSERT_EQ(xmlReadElement(&b.doc, &tag, &start, &end), 0);
    EXPECT_EQ(b.doc.state, XS_ELEMENT);
    EXPECT_STREQ(tag.name, "a");
    EXPECT_EQ(start, text.find("<b/>"));
    EXPECT_EQ(end, text.find("</a>"));
    EXPECT_EQ(b.doc.pos, 0u);
}

TEST_F(Xml, ReadElementClassifiesItsTag)
{
    DocBuffer b("<serviceId>x</serviceId>");
    QNXmlTag tag{};
    uint32_t start = 0, end = 0;
    ASSERT_EQ(xmlReadElement(&b.doc, &tag, &start, &end), 0);
    EXPECT_EQ(tag.index, 15);
    EXPECT_EQ(tag.cls, TC_ID);
}

struct ElementCase {
    const char *name;
    const char *text;
    int ret;
    int state;
};

TEST_F(Xml, ReadElementBoundaries)
{
    const ElementCase cases[] = {
        {"mismatched closing tag", "<a>x</b>", -1, XS_SYNTAX},
        {"mismatch deeper down", "<a><b><c>1</c></x></a>", -1, XS_SYNTAX},
        {"empty element", "<a/>", 0, XS_EMPTY},
        {"empty with blanks", "<a x='1'  / >", 0, XS_EMPTY},
        {"closing tag", "</a>", 0, XS_NONE},
        {"end of text", "", -1, XS_NONE},
        {"blanks only", "  \r\n", -1, XS_NONE},
        {"text, not an element", "x<a/>", -1, XS_SYNTAX},
        {"end after <", "<", -1, XS_END_LT},
        {"blanks after <", "<  ", -1, XS_END_LT},
        {"end inside start tag", "<a", -1, XS_SYNTAX},
        {"end inside child tag", "<a><b", -1, XS_SYNTAX},
        {"end inside content", "<a><b>1</b>", -1, XS_SYNTAX},
        {"end inside closing tag", "<a>1</a", -1, XS_SYNTAX},
        {"end inside comment", "<a><!-- c", -1, XS_SYNTAX},
        {"comment between children", "<a><!-- <b> --><c/><!-- </a> --></a>", 0, XS_ELEMENT},
        {"comment before element", "<!-- x --><a/>", 0, XS_EMPTY},
        {"closing name cut like the start name", "<a>1</a >", 0, XS_ELEMENT},
        {"comment with markup before a closing tag", "<a><b/><!-- x > <c> --></a>", 0, XS_ELEMENT},
        {"comment with markup after a value", "<a><b>1<!-- x > <c> --></b></a>", 0, XS_ELEMENT},
        {"text after a comment", "<a><!-- c --> text <b/></a>", 0, XS_ELEMENT},
        {"open comment in content", "<a><b/><!-- </a>", -1, XS_SYNTAX},
    };
    for (const ElementCase &c : cases) {
        DocBuffer b(c.text);
        QNXmlTag tag{};
        uint32_t start = 7, end = 9;
        EXPECT_EQ(xmlReadElement(&b.doc, &tag, &start, &end), c.ret) << c.name;
        EXPECT_EQ(b.doc.state, c.state) << c.name;
        EXPECT_EQ(b.doc.pos, 0u) << c.name;
        if (c.state == XS_EMPTY) {
            EXPECT_EQ(start, 7u) << c.name << ": contentStart is not written";
        }
    }
}

std::string nested(int levels)
{
    std::string text;
    for (int i = 0; i < levels; ++i)
        text += "<e>";
    text += "x";
    for (int i = 0; i < levels; ++i)
        text += "</e>";
    return text;
}

TEST_F(Xml, ReadElementRefusesNestingDeeperThanTheBound)
{
    QNXmlTag tag{};
    uint32_t start = 0, end = 0;
    DocBuffer deepest(nested(kMaxXmlDepth));
    EXPECT_EQ(xmlReadElement(&deepest.doc, &tag, &start, &end), 0);

    DocBuffer tooDeep(nested(kMaxXmlDepth + 1));
    EXPECT_EQ(xmlReadElement(&tooDeep.doc, &tag, &start, &end), -1);
    EXPECT_EQ(tooDeep.doc.state, XS_SYNTAX);

    // A hostile document of 64 KiB of start tags.
    std::string hostile;
    while (hostile.size() + 3 <= kMaxDocument)
        hostile += "<e>";
    DocBuffer huge(hostile);
    EXPECT_EQ(xmlReadElement(&huge.doc, &tag, &start, &end), -1);
    EXPECT_EQ(huge.doc.state, XS_SYNTAX);

    // Empty elements do not nest.
    std::string flat = "<a>";
    for (int i = 0; i < 1000; ++i)
        flat += "<b/>";
    flat += "</a>";
    DocBuffer wide(flat);
    EXPECT_EQ(xmlReadElement(&wide.doc, &tag, &start, &end), 0);
}

TEST_F(Xml, ReadElementLogsEachEnclosingLevelOfAFailure)
{
    std::vector<std::string> lines;
    static std::vector<std::string> *sink;
    sink = &lines;
    qnSetDebugSink([](int32_t, const char *text, int32_t) { sink->push_back(text); });
    qnSetDebugLevel(LOG_XML, 1, LOG_DETAIL);
    DocBuffer b("<a><b><c>1</d></b></a>");
    QNXmlTag tag{};
    uint32_t start = 0, end = 0;
    EXPECT_EQ(xmlReadElement(&b.doc, &tag, &start, &end), -1);
    EXPECT_EQ(lines, std::vector<std::string>(2, "R sub desc failed\r\n"));
    EXPECT_NE(console.find(": "), std::string::npos);
    qnSetDebugSink(nullptr);
    qnSetDebugLevel(LOG_XML, 0, 0);
}

// ---- Children -----------------------------------------------------------------

TEST_F(Xml, ReadChildrenSplitsLeavesAndContainers)
{
    const std::string content =
        "<deviceType>urn:x</deviceType><friendlyName>F</friendlyName>"
        "<serviceList><service><serviceType>s1</serviceType></service>"
        "<service><serviceType>s2</serviceType></service></serviceList>"
        "<UDN>uuid:1</UDN>";
    const std::string text = "<device>" + content + "</device>";
    DocBuffer b(text);
    b.doc.pos = static_cast<uint32_t>(std::strlen("<device>"));
    QNNameVal leaves[12]{};
    int leafCount = 12;
    QNXmlTag tags[4]{};
    uint32_t starts[4]{}, ends[4]{};
    int childCount = 4;
    ASSERT_EQ(xmlReadChildren(&b.doc, leaves, &leafCount, tags, starts, ends, &childCount), 0);
    ASSERT_EQ(leafCount, 3);
    EXPECT_STREQ(leaves[0].name, "deviceType");
    EXPECT_STREQ(leaves[1].name, "friendlyName");
    EXPECT_STREQ(leaves[2].name, "UDN");
    ASSERT_EQ(childCount, 1);
    EXPECT_STREQ(tags[0].name, "serviceList");
    EXPECT_EQ(starts[0], text.find("<service>"));
    EXPECT_EQ(ends[0], text.find("</serviceList>"));
    EXPECT_EQ(text.substr(b.doc.pos), "</device>");
}

TEST_F(Xml, ReadChildrenCapacityEdges)
{
    DocBuffer two("<a><x>1</x></a><b><x>2</x></b></p>");
    QNXmlTag tags[2]{};
    uint32_t starts[2]{}, ends[2]{};
    int childCount = 2;
    int leafCount = 0;
    EXPECT_EQ(xmlReadChildren(&two.doc, nullptr, &leafCount, tags, starts, ends, &childCount), 0);
    EXPECT_EQ(childCount, 2);

    DocBuffer three("<a><x>1</x></a><b><x>2</x></b><c><x>3</x></c></p>");
    childCount = 2;
    EXPECT_EQ(xmlReadChildren(&three.doc, nullptr, &leafCount, tags, starts, ends, &childCount), kXmlErrCapacity);

    DocBuffer broken("<a><x>1</x></b></p>");
    childCount = 2;
    EXPECT_EQ(xmlReadChildren(&broken.doc, nullptr, &leafCount, tags, starts, ends, &childCount), kXmlErrContainer);

    // Mixed text after the last leaf is no element.
    DocBuffer text("<l>1</l> words </p>");
    childCount = 2;
    EXPECT_EQ(xmlReadChildren(&text.doc, nullptr, &leafCount, tags, starts, ends, &childCount), kXmlErrContainer);

    // Containers switched off: leaves after one are not reached.
    DocBuffer off("<l>1</l><c><x/></c><m>2</m></p>");
    QNNameVal leaves[4]{};
    leafCount = 4;
    int none = 0;
    EXPECT_EQ(xmlReadChildren(&off.doc, leaves, &leafCount, nullptr, nullptr, nullptr, &none), 0);
    EXPECT_EQ(leafCount, 1);

    childCount = 1;
    EXPECT_EQ(xmlReadChildren(&off.doc, leaves, &leafCount, nullptr, starts, ends, &childCount), QN_ERR_ARG);
}

TEST_F(Xml, ReadChildrenKeepsInterleavedOrder)
{
    DocBuffer b("<l1>1</l1><c1><x/></c1><l2>2</l2><c2><y/></c2><l3>3</l3></p>");
    QNNameVal leaves[3]{};
    int leafCount = 3;
    XmlChild kids[2]{};
    int childCount = 2;
    ASSERT_EQ(xmlReadChildList(&b.doc, leaves, &leafCount, kids, &childCount), 0);
    ASSERT_EQ(leafCount, 3);
    ASSERT_EQ(childCount, 2);
    EXPECT_STREQ(leaves[2].name, "l3");
    EXPECT_EQ(xmlChildName(&b.doc, kids[0]), "c1");
    EXPECT_EQ(xmlChildName(&b.doc, kids[1]), "c2");
}

TEST_F(Xml, ReadChildrenPassesOverComments)
{
    struct Case {
        const char *name;
        const char *content; // of <p>, followed by </p>
        const char *leaves;  // names, space-separated
        const char *kids;
    };
    const Case cases[] = {
        {"before a leaf", "<!-- c --><l>1</l>", "l", ""},
        {"before a container", "<!-- c --><c><x>1</x></c>", "", "c"},
        {"inside a container", "<c><!-- c --><x>1</x><!-- d --></c>", "", "c"},
        {"before the closing tag", "<l>1</l><!-- c -->", "l", ""},
        {"markup inside", "<!-- <x> > </p> --><l>1</l><!-- <y/> -->", "l", ""},
        {"'>' then a tag inside, before a closing tag", "<c><x>1</x><!-- a > <b> --></c>", "", "c"},
        {"everywhere", "<!--1--><l1>1<!--2--></l1><!--3--><c1><!--4--><x/><!--5--></c1><!--6--><l2/><!--7-->",
         "l1 l2", "c1"},
    };
    for (const Case &c : cases) {
        DocBuffer b(std::string(c.content) + "</p>");
        QNNameVal leaves[4]{};
        int leafCount = 4;
        XmlChild kids[4]{};
        int childCount = 4;
        ASSERT_EQ(xmlReadChildList(&b.doc, leaves, &leafCount, kids, &childCount), 0) << c.name;
        std::string leafNames, kidNames;
        for (int i = 0; i < leafCount; ++i)
            leafNames += std::string(i > 0 ? " " : "") + leaves[i].name;
        for (int i = 0; i < childCount; ++i)
            kidNames += std::string(i > 0 ? " " : "") + std::string(xmlChildName(&b.doc, kids[i]));
        EXPECT_EQ(leafNames, c.leaves) << c.name;
        EXPECT_EQ(kidNames, c.kids) << c.name;
        // pos is before the parent's closing tag, as it is before blanks.
        ASSERT_EQ(xmlSkipBlank(&b.doc), 0) << c.name;
        EXPECT_EQ(b.text().substr(b.doc.pos), "</p>") << c.name;
    }
}

TEST_F(Xml, SplitQName)
{
    QNXmlTag tag{};
    QNXmlQName q{};
    std::strcpy(tag.name, "s:Envelope");
    ASSERT_EQ(xmlSplitQName(&tag, &q), 0);
    EXPECT_STREQ(q.prefix, "s");
    EXPECT_STREQ(q.local, "Envelope");
    std::strcpy(tag.name, "Body");
    ASSERT_EQ(xmlSplitQName(&tag, &q), 0);
    EXPECT_STREQ(q.prefix, "");
    EXPECT_STREQ(q.local, "Body");
    std::strcpy(tag.name, "a:b:c");
    ASSERT_EQ(xmlSplitQName(&tag, &q), 0);
    EXPECT_STREQ(q.prefix, "a");
    EXPECT_STREQ(q.local, "b:c");
    EXPECT_EQ(xmlLocalName("u:Play"), "Play");
}

// ---- Every byte of a real document ---------------------------------------------

TEST_F(Xml, EveryCutOfARealDocumentIsReadSafely)
{
    const std::string text = qntest::fixture("devices/network-light/SwitchPower-scpd.xml");
    ASSERT_FALSE(text.empty());
    const size_t closing = text.rfind("</scpd>") + std::strlen("</scpd>");
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        DocBuffer b(text.substr(0, cut));
        (void)xmlSkipDecl(&b.doc);
        QNXmlTag tag{};
        uint32_t start = 0, end = 0;
        int ret = xmlReadElement(&b.doc, &tag, &start, &end);
        EXPECT_EQ(ret == 0, cut >= closing) << "cut at " << cut;
    }
}

// ---- Writers ------------------------------------------------------------------

TEST_F(Xml, WriteLeafEscapesNameAndValue)
{
    char buf[256];
    QNTextDoc doc = xmlDocKind(nullptr, nullptr);
    docInitWrite(&doc, buf, sizeof buf);
    QNNameVal nv{"friendlyName", "AT&T <Media> \"1\""};
    ASSERT_EQ(writeLeaf(&doc, &nv, 1), 0);
    EXPECT_STREQ(buf, "<friendlyName>AT&amp;T &lt;Media&gt; \"1\"</friendlyName>");

    docInitWrite(&doc, buf, sizeof buf);
    ASSERT_EQ(xmlWriteText(&doc, "a\"&\t\n", true), 0);
    EXPECT_STREQ(buf, "a&quot;&amp;&#x9;&#xA;");
}

TEST_F(Xml, WrittenValuesReadBackUnchanged)
{
    const char *values[] = {"  two leading blanks", "\tx", "\r\nline\r\n", "trailing  ", " ", "a&b<c>d", "",
                            "&amp; literally", "\xE2\x82\xAC \xF0\x9F\x98\x80"};
    for (const char *value : values) {
        char buf[256];
        QNTextDoc doc = xmlDocKind(nullptr, nullptr);
        docInitWrite(&doc, buf, sizeof buf);
        QNNameVal nv{"v", ""};
        std::strcpy(nv.val, value);
        ASSERT_EQ(writeLeaf(&doc, &nv, 1), 0);
        DocBuffer b(buf);
        QNNameVal back{};
        ASSERT_EQ(xmlReadLeaf(&b.doc, &back), 0) << buf;
        EXPECT_STREQ(back.val, value) << buf;
    }
}

TEST_F(Xml, WriteLeafLeavesOutNamesItCannotWrite)
{
    char buf[256];
    QNTextDoc doc = xmlDocKind(nullptr, nullptr);
    const QNNameVal leaves[] = {
        {"dlna:X_DLNADOC", "DMS-1.50"}, // prefix without a declaration
        {"", "empty name"},
        {"a=b", "not a name"},
        {"1st", "starts with a digit"},
        {"ok", "kept"},
        {"xml:lang", "en"}, // the xml prefix needs no declaration
    };
    docInitWrite(&doc, buf, sizeof buf);
    ASSERT_EQ(writeLeafList(&doc, leaves, 6, 1), 0);
    EXPECT_STREQ(buf, "<ok>kept</ok><xml:lang>en</xml:lang>");

    const QNNameVal ns[] = {{"dlna", "urn:schemas-dlna-org:device-1-0"}};
    docInitWrite(&doc, buf, sizeof buf);
    ASSERT_EQ(writeLeafNs(&doc, &leaves[0], 1, ns, 1), 0);
    EXPECT_STREQ(buf, "<dlna:X_DLNADOC>DMS-1.50</dlna:X_DLNADOC>");

    EXPECT_EQ(writeLeafList(&doc, leaves, 0, 1), QN_ERR_ARG);
}

TEST_F(Xml, WritersStayInsideTheBuffer)
{
    std::vector<char> buf(48 + 16, '#');
    QNTextDoc doc = xmlDocKind(nullptr, nullptr);
    docInitWrite(&doc, buf.data(), 48);
    ASSERT_EQ(xmlBeginDoc(&doc), 0);
    QNNameVal nv{"value", ""};
    std::memset(nv.val, '&', 300);
    ASSERT_EQ(writeLeaf(&doc, &nv, 1), 0);
    EXPECT_EQ(xmlEndDoc(&doc), QN_ERR_NOMEM);
    EXPECT_EQ(std::strlen(buf.data()), 47u);
    for (size_t i = 48; i < buf.size(); ++i)
        ASSERT_EQ(buf[i], '#');
}

} // namespace
