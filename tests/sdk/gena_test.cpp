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
    CallbackRead r;
    while ((r = readCallbackUrl(callback, &pos, &url)) == CB_URL) {
        in_addr a{url.addr};
        out.push_back({inet_ntoa(a), url.port, url.path});
        if (out.size() > 20)
            break;
    }
    return r == CB_END ? out : std::vector<Url>{};
}

TEST(CallbackUrls, ReadAsUdaWritesThem)
{
    struct Case {
        const char *name;
        std::string callback;
        std::vector<Url> urls;   // read in order; empty: refused
    };
    const std::string longPath(QN_VAL_MAX_LEN, 'p');
    const Case cases[] = {
        {"one URL in brackets", "<http://127.0.0.1:30808/eventCB>", {{"127.0.0.1", 30808, "/eventCB"}}},
        {"scheme in capitals", "<HTTP://10.0.0.2:80/x>", {{"10.0.0.2", 80, "/x"}}},
        {"several URLs in order", "<http://10.0.0.1:1/a> <http://10.0.0.2:2/b><http://10.0.0.3:3>",
         {{"10.0.0.1", 1, "/a"}, {"10.0.0.2", 2, "/b"}, {"10.0.0.3", 3, "/"}}},
        {"no port means 80", "<http://10.0.0.1/ZentrovaEvent>", {{"10.0.0.1", 80, "/ZentrovaEvent"}}},
        {"query kept in the path", "<http://10.0.0.1:8/cb?id=4>", {{"10.0.0.1", 8, "/cb?id=4"}}},
        // Refused whole: a subscription keeps every URL it names or none.
        {"no brackets", "http://10.0.0.2:80/x", {}},
        {"host names are not resolved", "<http://localhost:80/x>", {}},
        {"another scheme", "<https://10.0.0.1:1/a>", {}},
        {"port 0", "<http://10.0.0.1:0/x>", {}},
        {"port above 65535", "<http://10.0.0.1:70000/x>", {}},
        {"a colon without a port", "<http://10.0.0.1:/x>", {}},
        {"empty URL", "<>", {}},
        {"blanks only", "   ", {}},
        {"unterminated", "<http://10.0.0.1:8/x", {}},
        {"blank inside", "<http://10.0.0.1:8/a b>", {}},
        {"a dotted address with too many parts", "<http://1.2.3.4.5:6/x>", {}},
        {"a path that would be cut", "<http://1.2.3.4:5/" + longPath + ">", {}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(urlsOf(c.callback.c_str()), c.urls) << c.name;
        uint32_t source = 0;
        if (!c.urls.empty())
            inet_pton(AF_INET, c.urls.front().addr.c_str(), &source);
        int count = checkCallbacks(c.callback.c_str(), source);
        bool sameHost = !c.urls.empty();
        for (const Url &u : c.urls)
            sameHost = sameHost && u.addr == c.urls.front().addr;
        EXPECT_EQ(count, sameHost ? static_cast<int>(c.urls.size()) : -1) << c.name;
    }
    // At most kMaxCallbackUrls, all naming the subscriber.
    uint32_t self = htonl(INADDR_LOOPBACK);
    std::string many;
    for (int i = 0; i <= kMaxCallbackUrls; ++i)
        many += "<http://127.0.0.1:" + std::to_string(1000 + i) + "/>";
    EXPECT_EQ(checkCallbacks(many.c_str(), self), -1);
    many = many.substr(0, many.rfind('<'));
    EXPECT_EQ(checkCallbacks(many.c_str(), self), kMaxCallbackUrls);
    EXPECT_EQ(checkCallbacks("<http://127.0.0.1:8/a><http://10.0.0.1:8/b>", self), -1);
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
