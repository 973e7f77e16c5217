// The pure parts of the device's eventing: reading the delivery URLs of a
// Callback header and making SIDs.
#include "gena.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

struct Url {
    std::string addr;
    uint16_t port;
    std::string path;
    bool operator==(const Url &) const = default;
};

std::vector<Url> urlsOf(const char *callback)
{
    std::vector<Url> out;
    size_t pos = 0;
    CallbackUrl url;
    while (nextCallbackUrl(callback, &pos, &url)) {
        in_addr a{url.addr};
        out.push_back({inet_ntoa(a), url.port, url.path});
        if (out.size() > 20)
            break;
    }
    return out;
}

TEST(CallbackUrls, ReadAsUdaWritesThem)
{
    struct Case {
        const char *name;
        const char *callback;
        std::vector<Url> urls;
    };
    const std::string longPath(600, 'p');
    const std::string longCallback = "<http://1.2.3.4:5/" + longPath + ">";
    const Case cases[] = {
        {"one URL in brackets", "<http://127.0.0.1:30808/eventCB>", {{"127.0.0.1", 30808, "/eventCB"}}},
        {"scheme in capitals, no brackets", "HTTP://10.0.0.2:80/x", {{"10.0.0.2", 80, "/x"}}},
        {"several URLs in order", "<http://10.0.0.1:1/a> <http://10.0.0.2:2/b><http://10.0.0.3:3>",
         {{"10.0.0.1", 1, "/a"}, {"10.0.0.2", 2, "/b"}, {"10.0.0.3", 3, "/"}}},
        {"no port: port 0, never delivered to", "<http://10.0.0.1/ZentrovaEvent>", {{"10.0.0.1", 0, "/ZentrovaEvent"}}},
        {"host names are not resolved", "<http://localhost:80/x> <http://10.0.0.1:9/y>", {{"10.0.0.1", 9, "/y"}}},
        {"other schemes are passed over", "<https://10.0.0.1:1/a><ftp://10.0.0.1:2/b>", {}},
        {"a port out of range reads as none", "<http://10.0.0.1:70000/x>", {{"10.0.0.1", 0, "/x"}}},
        {"query kept in the path", "<http://10.0.0.1:8/cb?id=4>", {{"10.0.0.1", 8, "/cb?id=4"}}},
        {"empty and blank texts", "  <> ", {}},
        {"a dotted address with too many parts", "<http://1.2.3.4.5:6/x>", {}},
        {"a path longer than a value is cut", longCallback.c_str(),
         {{"1.2.3.4", 5, "/" + longPath.substr(0, QN_VAL_MAX_LEN - 2)}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(urlsOf(c.callback), c.urls) << c.name;
}

TEST(Sids, RandomVersionFourUuids)
{
    std::set<std::string> seen;
    const std::regex form("uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    for (int i = 0; i < 1000; ++i) {
        char sid[kSidSize];
        ASSERT_TRUE(makeSid(sid, sizeof sid));
        ASSERT_TRUE(std::regex_match(sid, form)) << sid;
        seen.insert(sid);
    }
    EXPECT_EQ(seen.size(), 1000u);
    char small[10];
    EXPECT_FALSE(makeSid(small, sizeof small));
    EXPECT_EQ(std::string(small), "");
}

} // namespace
