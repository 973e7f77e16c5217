// qnsdk's JSON lines: string escaping byte by byte, texts that are not
// UTF-8, and names that repeat (qnsdk_describe_test.py parses the tool's
// real output with a JSON parser).
#include "json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qncli::addFirst;
using qncli::Json;
using qncli::jsonText;
using qncli::textOrNull;

TEST(JsonString, EscapesWhatJsonRequiresAndReplacesWhatIsNotUtf8)
{
    using namespace std::string_literals;
    struct Case {
        const char *name;
        std::string text;
        std::string json;
    } cases[] = {
        {"empty", "", R"("")"},
        {"quote and backslash", R"(say "a\b")", R"("say \"a\\b\"")"},
        {"NUL inside", "a\0b"s, R"("a\u0000b")"},
        {"every control character form", "\x01\x08\t\n\x0b\r\x1f", R"("\u0001\b\t\n\u000b\r\u001f")"},
        {"space and DEL are not control", " \x7f", "\" \x7f\""},
        {"slash stays", "/ctl/x", R"("/ctl/x")"},
        {"UTF-8 two, three and four bytes", "\xc3\xbc\xe2\x82\xac\xf0\x9f\x92\xa1", "\"\xc3\xbc\xe2\x82\xac\xf0\x9f\x92\xa1\""},
        {"a byte that is never UTF-8", "a\xff" "b", "\"a\xef\xbf\xbd" "b\""},
        {"a sequence cut at the end", "K\xc3", "\"K\xef\xbf\xbd\""},
        {"a sequence cut by ASCII", "\xe2\x82" "x", "\"\xef\xbf\xbd" "x\""},
        {"an overlong form", "\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(jsonText(Json(c.text)), c.json) << c.name;
}

TEST(JsonObject, RepeatedNamesKeepTheFirstValueAndKeysTheirOrder)
{
    Json out = Json::object();
    addFirst(out, "Result", "1");
    addFirst(out, "Count", "2");
    addFirst(out, "Result", "3");
    Json line = Json::object();
    line["absent"] = textOrNull(nullptr);
    line["out"] = out;
    line["list"] = Json::array({Json::object(), Json::array(), true});
    EXPECT_EQ(jsonText(line), R"({"absent":null,"out":{"Result":"1","Count":"2"},"list":[{},[],true]})");
}

} // namespace
