// The JSON writer of qnsdk: string escaping byte by byte, and comma
// placement in nested objects and arrays (qnsdk_describe_test.py parses the
// tool's real output with a JSON parser).
#include "json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qncli::appendJsonString;
using qncli::JsonWriter;

std::string jsonOf(std::string_view text)
{
    std::string out;
    appendJsonString(out, text);
    return out;
}

TEST(JsonString, EscapesWhatJsonRequiresAndPassesTheRest)
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
        {"every control character form", "\x01\x08\t\n\x0b\r\x1f", R"("\u0001\u0008\u0009\u000a\u000b\u000d\u001f")"},
        {"space and DEL are not control", " \x7f", "\" \x7f\""},
        {"slash stays", "/ctl/x", R"("/ctl/x")"},
        {"UTF-8 two, three and four bytes", "\xc3\xbc\xe2\x82\xac\xf0\x9f\x92\xa1", "\"\xc3\xbc\xe2\x82\xac\xf0\x9f\x92\xa1\""},
        {"bytes that are not UTF-8 pass unchanged", "\xff\xc3", "\"\xff\xc3\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(jsonOf(c.text), c.json) << c.name;
}

TEST(JsonWriter, PlacesCommasAtEveryLevel)
{
    JsonWriter json;
    json.beginObject();
    json.member("a", "1");
    json.member("absent", nullptr);
    json.key("list");
    json.beginArray();
    json.beginObject();
    json.key("t");
    json.boolean(true);
    json.endObject();
    json.beginArray();
    json.endArray();
    json.null();
    json.string("x");
    json.endArray();
    json.key("empty");
    json.beginObject();
    json.endObject();
    json.key("f");
    json.boolean(false);
    json.endObject();
    EXPECT_EQ(json.text(), R"({"a":"1","absent":null,"list":[{"t":true},[],null,"x"],"empty":{},"f":false})");
}

} // namespace
