#include "log.h"
#include "text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(StrBuild, ConcatenatesTypedItemsAndCuts)
{
    char buf[64];
    EXPECT_EQ(strBuild(buf, sizeof buf, "s", "http://", "s", "10.0.0.2", "s", ":", "d", 49152, ""), 21);
    EXPECT_STREQ(buf, "http://10.0.0.2:49152");

    EXPECT_EQ(strBuild(buf, 1, "s", "abc", ""), 0);
    EXPECT_STREQ(buf, "");

    // An unknown code ends the list at that point.
    EXPECT_EQ(strBuild(buf, sizeof buf, "s", "a", "x", "b", "s", "c", ""), 1);
    EXPECT_STREQ(buf, "a");

    EXPECT_EQ(strBuild(buf, sizeof buf, "d", -5, "u", 4000000000u, ""), 12);
    EXPECT_STREQ(buf, "-54000000000");

    char small[6];
    EXPECT_EQ(strBuild(small, sizeof small, "s", "abc", "s", "defgh", ""), 5);
    EXPECT_STREQ(small, "abcde");
    EXPECT_EQ(strBuild(nullptr, 10, "s", "a", ""), 0);
}

TEST(FormatAddr, OmitsPort80)
{
    char out[32];
    uint32_t addr = (192u << 24) | (168u << 16) | (1u << 8) | 7u;
    formatAddr(addr, 80, out, sizeof out);
    EXPECT_STREQ(out, "192.168.1.7");
    formatAddr(addr, 49152, out, sizeof out);
    EXPECT_STREQ(out, "192.168.1.7:49152");
    formatAddr(addr, 49152, out, 5);
    EXPECT_STREQ(out, "192.");
}

struct UrlCase {
    const char *name;
    const char *url;
    int ret;
    const char *scheme;
    const char *addr;
    uint16_t port;
    const char *path;
};

TEST(ParseUrl, SplitsTheUrlForms)
{
    const UrlCase cases[] = {
        {"full", "http://192.168.1.7:49152/desc.xml", 0, "http", "192.168.1.7", 49152, "/desc.xml"},
        {"default port", "http://192.168.1.7/x", 0, "http", "192.168.1.7", 80, "/x"},
        {"no path", "http://10.0.0.1:5000", 0, "http", "10.0.0.1", 5000, ""},
        {"file", "file:///c:/dev/desc.xml", 0, "file", "0.0.0.0", 0, "/desc.xml"},
        {"file backslash", "file://c:\\dev\\desc.xml", 0, "file", "0.0.0.0", 0, "\\desc.xml"},
        {"query kept", "http://1.2.3.4:8/a/b?c=d", 0, "http", "1.2.3.4", 8, "/a/b?c=d"},
        // Names are never looked up, not even the local host's.
        {"a name", "http://localhost:1/", -1, "http", "0.0.0.0", 1, "/"},
        {"user information", "http://1.2.3.4@5.6.7.8/", QN_ERR_ARG, "http", "0.0.0.0", 80, ""},
    };
    for (const UrlCase &c : cases) {
        char scheme[16], path[64];
        uint32_t addr = 1;
        uint16_t port = 1;
        ASSERT_EQ(parseUrl(c.url, scheme, sizeof scheme, &addr, &port, path, sizeof path), c.ret) << c.name;
        in_addr a{};
        a.s_addr = addr;
        EXPECT_STREQ(scheme, c.scheme) << c.name;
        EXPECT_STREQ(inet_ntoa(a), c.addr) << c.name;
        EXPECT_EQ(ntohs(port), c.port) << c.name;
        EXPECT_STREQ(path, c.path) << c.name;
    }
    char s[8], p[8];
    uint32_t addr;
    uint16_t port;
    EXPECT_EQ(parseUrl("", s, 8, &addr, &port, p, 8), QN_ERR_ARG);
    EXPECT_EQ(parseUrl("http://1.2.3.4/", s, 0, &addr, &port, p, 8), QN_ERR_ARG);
    // Over-long parts are cut, never overflow.
    EXPECT_EQ(parseUrl("http://1.2.3.4/abcdefghijkl", s, 8, &addr, &port, p, 8), 0);
    EXPECT_STREQ(p, "/abcdef");
}

TEST(FindNameVal, ExactCaseSensitiveFirstMatch)
{
    QNNameVal nv[3] = {{"Location", "a"}, {"location", "b"}, {"Location", "c"}};
    EXPECT_STREQ(findNameVal(nv, 3, "Location"), "a");
    EXPECT_STREQ(findNameVal(nv, 3, "location"), "b");
    EXPECT_EQ(findNameVal(nv, 3, "LOCATION"), nullptr);
    EXPECT_EQ(findNameVal(nv, 0, "Location"), nullptr);
    EXPECT_EQ(findNameVal(nullptr, 3, "Location"), nullptr);
}

int countingHook(QNXmlTag *tag)
{
    tag->index = static_cast<int>(std::string(tag->name).size());
    return 0;
}

TEST(TextCursor, TokensDelimitersAndBounds)
{
    QNTextDoc doc{};
    doc.delims = "/:\r\n";
    doc.nameHook = countingHook;
    docInitRead(&doc, "  GET /desc.xml HTTP/1.1\r\n");
    QNXmlTag tag{};
    ASSERT_EQ(docPeekToken(&doc, &tag), 0);
    EXPECT_STREQ(tag.name, "GET");
    EXPECT_EQ(doc.pos, 0u);
    ASSERT_EQ(docReadToken(&doc, &tag), 0);
    EXPECT_EQ(tag.index, 3);
    EXPECT_EQ(doc.pos, 5u);
    ASSERT_EQ(docReadToken(&doc, &tag), 0);
    EXPECT_STREQ(tag.name, "desc.xml");
    ASSERT_EQ(docFindChar(&doc, '.'), 0);
    EXPECT_EQ(doc.text[doc.pos], '.');
    EXPECT_EQ(docFindChar(&doc, '#'), -1);
    EXPECT_EQ(doc.text[doc.pos], '\0');
    ASSERT_EQ(docReadToken(&doc, &tag), 0);
    EXPECT_STREQ(tag.name, "");

    doc.pos = doc.len + 1;
    EXPECT_EQ(docSkipDelims(&doc), QN_ERR_ARG);
    EXPECT_EQ(docReadToken(&doc, &tag), QN_ERR_ARG);
    EXPECT_EQ(docReadToken(nullptr, &tag), QN_ERR_ARG);
}

TEST(TextCursor, LongTokenIsCutTo127)
{
    std::string text(300, 'a');
    QNTextDoc doc{};
    docInitRead(&doc, text.c_str());
    QNXmlTag tag{};
    ASSERT_EQ(docReadToken(&doc, &tag), 0);
    EXPECT_EQ(std::string(tag.name).size(), 127u);
    EXPECT_EQ(doc.pos, 300u);
}

TEST(TextCursor, AppendCutsAtCapacity)
{
    char buf[8];
    QNTextDoc doc{};
    docInitWrite(&doc, buf, sizeof buf);
    EXPECT_EQ(docAppend(&doc, "abc"), 0);
    EXPECT_EQ(docAppend(&doc, "defgh"), 0);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(doc.pos, 7u);
    EXPECT_EQ(docAppend(&doc, "x"), 0);
    EXPECT_STREQ(buf, "abcdefg");
}

std::vector<std::string> delivered;
void recordSink(int32_t, const char *text, int32_t) { delivered.emplace_back(text); }

TEST(Log, CategoriesAndLevelsFilter)
{
    delivered.clear();
    qnSetDebugLevel(8, 1, 2);
    debugPrint(LOG_SSDP, "nosink", 0);
    EXPECT_TRUE(delivered.empty());

    qnSetDebugSink(recordSink);
    debugPrint(LOG_SSDP, "ssdp2", 2);
    debugPrint(LOG_GENA, "gena3", 3);
    qnSetDebugLevel(5, 0, 3);
    debugPrint(LOG_HTTP_XFER, "xfer0", 0);
    debugPrintf(LOG_XML, 1, "xml %d", 7);
    qnSetDebugLevel(9, 1, 9); // no such category: nothing changes
    debugPrint(LOG_HTTP_XFER, "still silent", 0);
    EXPECT_EQ(delivered, (std::vector<std::string>{"ssdp2", "xml 7"}));
    qnSetDebugSink(nullptr);
    qnSetDebugLevel(8, 0, 0);
}

} // namespace
