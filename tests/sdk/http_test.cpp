// The HTTP message layer without sockets: parsing of start lines, headers
// and real captured messages, hostile text, the writer and the tables.
#include "http.h"
#include "log.h"
#include "netns.h"
#include "wireCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Parses text from a private copy so that the message may point into it.
struct Parsed {
    std::string buffer;
    HttpMsg msg{};
    int ret = 0;

    explicit Parsed(const std::string &text) : buffer(text)
    {
        ret = httpParseText(buffer.data(), static_cast<uint32_t>(buffer.size() + 1), &msg);
    }
    std::string header(int index) const
    {
        const char *value = findHeader(&msg, index);
        return value ? value : "(absent)";
    }
    std::string body() const { return msg.body ? msg.body : "(absent)"; }
};

// Collects the log lines of one category while a test runs.
struct LogCapture {
    static inline std::vector<std::string> lines;
    static void sink(int32_t, const char *text, int32_t) { lines.emplace_back(text); }
    static inline std::vector<std::string> console;
    static void consoleSink(const char *text) { console.emplace_back(text); }

    explicit LogCapture(int category, int level)
    {
        lines.clear();
        console.clear();
        qnSetDebugSink(sink);
        qnSetDebugLevel(QN_LOG_ALL_CATEGORIES, 0, 0);
        qnSetDebugLevel(category, 1, level);
        setConsoleSink(consoleSink);
    }
    ~LogCapture()
    {
        qnSetDebugSink(nullptr);
        qnSetDebugLevel(QN_LOG_ALL_CATEGORIES, 0, 0);
        setConsoleSink(nullptr);
    }
};

// ---- Start lines ------------------------------------------------------------

struct StartCase {
    const char *name;
    std::string text;
    int ret;
    int method;
    const char *uri;
    int status;
    const char *reason;
};

TEST(HttpParse, StartLines)
{
    const StartCase cases[] = {
        {"m-search in lower case", "m-search * HTTP/1.1\r\n\r\n", 0, HM_MSEARCH, "*", 0, ""},
        {"GET", "GET /rootDesc.xml HTTP/1.1\r\n\r\n", 0, HM_GET, "/rootDesc.xml", 0, ""},
        {"POST", "POST /ctl HTTP/1.1\r\n\r\n", 0, HM_POST, "/ctl", 0, ""},
        {"M-POST", "M-POST /ctl HTTP/1.1\r\n\r\n", 0, HM_MPOST, "/ctl", 0, ""},
        {"SUBSCRIBE", "SUBSCRIBE /evt HTTP/1.1\r\n\r\n", 0, HM_SUBSCRIBE, "/evt", 0, ""},
        {"UNSUBSCRIBE", "UNSUBSCRIBE /evt/cd HTTP/1.1\r\n\r\n", 0, HM_UNSUBSCRIBE, "/evt/cd", 0, ""},
        {"NOTIFY", "NOTIFY * HTTP/1.1\r\n\r\n", 0, HM_NOTIFY, "*", 0, ""},
        {"HEAD", "HEAD /icons/sm.png HTTP/1.0\r\n\r\n", 0, HM_HEAD, "/icons/sm.png", 0, ""},
        {"absolute target", "GET http://10.0.0.2:80/a?b=c HTTP/1.1\r\n\r\n", 0, HM_GET, "http://10.0.0.2:80/a?b=c", 0, ""},
        {"OPTIONS is no method", "OPTIONS * HTTP/1.1\r\n\r\n", -1, HM_RESPONSE, "", 0, ""},
        {"status 200", "HTTP/1.1 200 OK\r\n\r\n", 0, HM_RESPONSE, "", 200, "OK"},
        {"reason with blanks", "HTTP/1.1 500 Internal server error\r\n\r\n", 0, HM_RESPONSE, "", 500, "Internal server error"},
        {"lower-case version", "http/1.0 404 Not Found\r\n\r\n", 0, HM_RESPONSE, "", 404, "Not Found"},
        {"no reason", "HTTP/1.1 204\r\n\r\n", 0, HM_RESPONSE, "", 204, ""},
        {"unknown status kept", "HTTP/1.1 299 Odd\r\n\r\n", 0, HM_RESPONSE, "", 299, "Odd"},
        {"LF line ends", "NOTIFY * HTTP/1.1\n\n", 0, HM_NOTIFY, "*", 0, ""},
        {"empty lines first", "\r\n\r\nGET / HTTP/1.1\r\n\r\n", 0, HM_GET, "/", 0, ""},
        {"junk after the version", "GET / HTTP/1.1 extra\r\n\r\n", 0, HM_GET, "/", 0, ""},
        {"no version", "GET /\r\n\r\n", -1, HM_GET, "/", 0, ""},
        {"no target", "GET\r\n\r\n", -1, HM_GET, "", 0, ""},
        {"target then end", "GET /x", -1, HM_GET, "/x", 0, ""},
        {"version without digits", "GET / HTTP/\r\n\r\n", -1, HM_GET, "/", 0, ""},
        {"version with a dot only", "GET / HTTP/1.\r\n\r\n", -1, HM_GET, "/", 0, ""},
        {"version junk", "GET / HTTP/1.1x\r\n\r\n", -1, HM_GET, "/", 0, ""},
        {"version too large", "GET / HTTP/65536.1\r\n\r\n", -1, HM_GET, "/", 0, ""},
        {"CR inside the target", "GET /a\rb HTTP/1.1\r\n\r\n", -1, HM_GET, "", 0, ""},
        {"escape inside the target", "GET /a\x1b[2J HTTP/1.1\r\n\r\n", -1, HM_GET, "", 0, ""},
        {"version not HTTP", "GET / HTTPS/1.1\r\n\r\n", -1, HM_GET, "/", 0, ""},
        {"two-digit status", "HTTP/1.1 20 OK\r\n\r\n", -1, HM_RESPONSE, "", 0, ""},
        {"four-digit status", "HTTP/1.1 2000 OK\r\n\r\n", -1, HM_RESPONSE, "", 0, ""},
        {"status glued to reason", "HTTP/1.1 200OK\r\n\r\n", -1, HM_RESPONSE, "", 0, ""},
        {"empty text", "", -1, HM_RESPONSE, "", 0, ""},
        {"blanks only", " \r\n\t\r\n", -1, HM_RESPONSE, "", 0, ""},
        {"CR line ends", "NOTIFY * HTTP/1.1\rHost: x\r\r", -1, HM_NOTIFY, "*", 0, ""},
        {"NUL in the method", std::string("NOT\0IFY * HTTP/1.1\r\n\r\n", 22), -1, HM_RESPONSE, "", 0, ""},
    };
    for (const StartCase &c : cases) {
        Parsed p(c.text);
        EXPECT_EQ(p.ret, c.ret) << c.name;
        EXPECT_EQ(p.msg.method, c.method) << c.name;
        if (c.ret != 0)
            continue;
        EXPECT_STREQ(p.msg.uri, c.uri) << c.name;
        EXPECT_EQ(p.msg.status, c.status) << c.name;
        EXPECT_STREQ(p.msg.reason, c.reason) << c.name;
        EXPECT_EQ(p.msg.major, 1) << c.name;
    }
}

TEST(HttpParse, VersionNumbers)
{
    Parsed p("GET / HTTP/2.13\r\n\r\n");
    ASSERT_EQ(p.ret, 0);
    EXPECT_EQ(p.msg.major, 2);
    EXPECT_EQ(p.msg.minor, 13);
    Parsed noMinor("HTTP/1 200 OK\r\n\r\n");
    ASSERT_EQ(noMinor.ret, 0);
    EXPECT_EQ(noMinor.msg.major, 1);
    EXPECT_EQ(noMinor.msg.minor, 0);
}

// A target longer than its field is refused, never cut and used; a reason
// phrase is only shown, and is cut.
TEST(HttpParse, LongTargetIsRefusedLongReasonCut)
{
    const size_t room = QN_VAL_MAX_LEN - 1;
    for (size_t len : {room - 1, room, room + 1, size_t{5000}}) {
        std::string target = "/" + std::string(len - 1, 'a');
        Parsed request("GET " + target + " HTTP/1.1\r\nHost: h\r\n\r\n");
        ASSERT_EQ(request.ret, len <= room ? 0 : -1) << len;
        if (len <= room) {
            EXPECT_EQ(std::string(request.msg.uri), target) << len;
            EXPECT_EQ(request.header(HH_HOST), "h") << len;
        }
        std::string reason(len, 'r');
        Parsed response("HTTP/1.1 200 " + reason + "\r\nSt: x\r\n\r\n");
        ASSERT_EQ(response.ret, 0) << len;
        EXPECT_EQ(std::string(response.msg.reason), reason.substr(0, room)) << len;
        EXPECT_EQ(response.header(HH_ST), "x") << len;
    }
}

// ---- Header lines -----------------------------------------------------------

struct HeaderCase {
    const char *name;
    std::string lines;  // between the start line and the empty line
    int ret;
    int count;
    int index;          // header to look at
    const char *value;
};

TEST(HttpParse, HeaderLines)
{
    const HeaderCase cases[] = {
        {"no blank after the colon", "NT:upnp:rootdevice\r\n", 0, 1, HH_NT, "upnp:rootdevice"},
        {"empty Ext", "Ext:\r\n", 0, 1, HH_EXT, ""},
        {"Ext with a blank", "Ext: \r\n", 0, 1, HH_EXT, ""},
        {"names without regard to case", "cOnTeNt-TyPe: text/xml\r\n", 0, 1, HH_CONTENT_TYPE, "text/xml"},
        {"blank before the colon", "Host : 1.2.3.4\r\n", 0, 1, HH_HOST, "1.2.3.4"},
        {"trailing blanks dropped", "Cache-Control: max-age=1800 \t\r\n", 0, 1, HH_CACHE_CONTROL, "max-age=1800"},
        {"colons inside the value", "USN: uuid:a::upnp:rootdevice\r\n", 0, 1, HH_USN, "uuid:a::upnp:rootdevice"},
        {"quotes kept", "MAN: \"ssdp:discover\"\r\n", 0, 1, HH_MAN, "\"ssdp:discover\""},
        {"LF line end", "St: ssdp:all\n", 0, 1, HH_ST, "ssdp:all"},
        {"first of two", "Sid: a\r\nSid: b\r\n", 0, 2, HH_SID, "a"},
        {"folded value joined", "Callback: <http://a/>\r\n <http://b/>\r\n", 0, 1, HH_CALLBACK, "<http://a/> <http://b/>"},
        {"fold after an empty value", "Nt:\r\n upnp:event\r\n", 0, 1, HH_NT, "upnp:event"},
        {"fold after a skipped header", "X-Odd: a\r\n more\r\nMx: 3\r\n", 0, 1, HH_MX, "3"},
        {"lone CR ends the value", "Nts: ssdp:alive\rjunk\r\n", 0, 1, HH_NTS, "ssdp:alive"},
        {"method name is no header", "GET: x\r\nNOTIFY: y\r\nSeq: 0\r\n", 0, 1, HH_SEQ, "0"},
        {"empty name", ": x\r\n", -1, 0, HH_UNKNOWN, nullptr},
        {"no colon", "garbage line\r\n", -1, 0, HH_UNKNOWN, nullptr},
        {"over-long name skipped", std::string(5000, 'N') + ": v\r\nSt: a\r\n", 0, 1, HH_ST, "a"},
    };
    for (const HeaderCase &c : cases) {
        Parsed p("NOTIFY * HTTP/1.1\r\n" + c.lines + "\r\nbody");
        EXPECT_EQ(p.ret, c.ret) << c.name;
        if (c.ret != 0)
            continue;
        EXPECT_EQ(p.msg.count, c.count) << c.name;
        EXPECT_EQ(p.header(c.index), c.value) << c.name;
        EXPECT_EQ(p.body(), "\r\nbody") << c.name;
    }
}

TEST(HttpParse, HeadersOutsideTheTableAreSkipped)
{
    // What libupnp renderers and UDA 1.1 devices send besides the known headers.
    Parsed p("NOTIFY * HTTP/1.1\r\n"
             "HOST: 239.255.255.250:1900\r\n"
             "OPT: \"http://schemas.upnp.org/upnp/1/0/\"; ns=01\r\n"
             "01-NLS: 2b2ea2c8-1dd2-11b2-8c23-c5e1fa7d2a1b\r\n"
             "NT: upnp:rootdevice\r\n"
             "X-User-Agent: redsonic\r\n"
             "BOOTID.UPNP.ORG: 7\r\n"
             "CONFIGID.UPNP.ORG: 1\r\n"
             "Accept-Ranges: bytes\r\n"
             "NTS: ssdp:alive\r\n"
             "\r\n");
    ASSERT_EQ(p.ret, 0);
    ASSERT_EQ(p.msg.count, 3);
    EXPECT_EQ(p.msg.headers[0].index, HH_HOST);
    EXPECT_EQ(p.msg.headers[1].index, HH_NT);
    EXPECT_EQ(p.msg.headers[2].index, HH_NTS);
    EXPECT_EQ(p.body(), "\r\n");
}

TEST(HttpParse, UnknownHeadersAreLoggedAsDetailNotOnTheConsole)
{
    LogCapture log(LOG_HTTP_PARSE, LOG_DETAIL);
    Parsed p("GET / HTTP/1.1\r\nX-Thing: 1\r\n\r\n");
    ASSERT_EQ(p.ret, 0);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("X-Thing"), std::string::npos);
    EXPECT_TRUE(log.console.empty());

    LogCapture quiet(LOG_HTTP_PARSE, LOG_NOTABLE);
    Parsed again("GET / HTTP/1.1\r\nX-Thing: 1\r\n\r\n");
    EXPECT_TRUE(quiet.lines.empty());
}

TEST(HttpParse, ElevenHeadersKeepTenAndTheBodyStartsAfterTheEmptyLine)
{
    for (int known = 9; known <= 12; ++known) {
        std::string some;
        for (int i = 0; i < known; ++i)
            some += "Seq: " + std::to_string(i) + "\r\n";
        Parsed p("NOTIFY /gena HTTP/1.1\r\n" + some + "\r\n<e:propertyset/>");
        ASSERT_EQ(p.ret, 0) << known;
        EXPECT_EQ(p.msg.count, known < kMaxHeaders ? known : kMaxHeaders) << known;
        EXPECT_STREQ(p.msg.headers[p.msg.count - 1].value, std::to_string(p.msg.count - 1).c_str()) << known;
        EXPECT_EQ(p.body(), "\r\n<e:propertyset/>") << known;
    }
}

// A known value longer than its field fails the message: a cut Callback,
// Sid or Location would name something else. The last that fits, the first
// that does not, and a folded line that pushes a value past its end.
TEST(HttpParse, ValuesLongerThanTheirFieldAreRefused)
{
    const size_t room = QN_VAL_MAX_LEN - 1;
    struct Case {
        const char *name;
        std::string lines;
        int ret;
        int index;
        std::string value;
    };
    const Case cases[] = {
        {"one short of the field", "Location: " + std::string(room - 1, 'v') + "\r\n", 0, HH_LOCATION,
         std::string(room - 1, 'v')},
        {"the field exactly", "Location: " + std::string(room, 'v') + "\r\n", 0, HH_LOCATION, std::string(room, 'v')},
        {"one too long", "Location: " + std::string(room + 1, 'v') + "\r\n", -1, 0, ""},
        {"far too long", "Location: " + std::string(70000, 'v') + "\r\n", -1, 0, ""},
        {"trailing blanks do not count", "Usn: " + std::string(room, 'u') + " \t\r\n", 0, HH_USN,
         std::string(room, 'u')},
        {"a fold that fits", "Usn: " + std::string(room - 5, 'u') + "\r\n tail\r\n", 0, HH_USN,
         std::string(room - 5, 'u') + " tail"},
        {"a fold past the end", "Usn: " + std::string(room - 1, 'u') + "\r\n tail\r\n", -1, 0, ""},
        {"a fold onto a full value", "Server: " + std::string(room, 'f') + "\r\n more\r\n", -1, 0, ""},
        {"an empty fold", "Usn: u\r\n \t \r\n", 0, HH_USN, "u"},
        {"unknown headers are not stored, so never too long", "X-Long: " + std::string(5000, 'x') + "\r\n", 0,
         HH_EXT, "(absent)"},
    };
    for (const Case &c : cases) {
        Parsed p("HTTP/1.1 200 OK\r\n" + c.lines + "\r\n");
        ASSERT_EQ(p.ret, c.ret) << c.name;
        if (c.ret == 0) {
            EXPECT_EQ(p.header(c.index), c.value) << c.name;
        }
    }
}

TEST(HttpParse, TextThatEndsEarly)
{
    // No empty line: the headers run to the end and the body is empty.
    Parsed noBlank("NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive");
    ASSERT_EQ(noBlank.ret, 0);
    EXPECT_EQ(noBlank.header(HH_NTS), "ssdp:alive");
    EXPECT_EQ(noBlank.body(), "");

    // A NUL ends the text wherever it is.
    Parsed nul(std::string("NOTIFY * HTTP/1.1\r\nNT: upnp:root\0device\r\nNTS: ssdp:alive\r\n\r\n", 60));
    ASSERT_EQ(nul.ret, 0);
    EXPECT_EQ(nul.header(HH_NT), "upnp:root");
    EXPECT_EQ(nul.header(HH_NTS), "(absent)");
}

TEST(HttpParse, InterimContinueIsPassedOver)
{
    Parsed p("HTTP/1.1 100 Continue\r\n\r\n"
             "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nExt:\r\n\r\nok");
    ASSERT_EQ(p.ret, 0);
    EXPECT_EQ(p.msg.status, 200);
    EXPECT_STREQ(p.msg.reason, "OK");
    EXPECT_EQ(p.msg.count, 2);
    EXPECT_EQ(p.header(HH_CONTENT_LENGTH), "2");
    EXPECT_EQ(p.body(), "\r\nok");

    Parsed twice("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 100 Continue\r\nServer: s\r\n\r\nHTTP/1.1 404 Not Found\r\n\r\n");
    ASSERT_EQ(twice.ret, 0);
    EXPECT_EQ(twice.msg.status, 404);
    EXPECT_EQ(twice.msg.count, 0);

    Parsed alone("HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_EQ(alone.ret, 0);
    EXPECT_EQ(alone.msg.status, 100);

    Parsed broken("HTTP/1.1 100 Continue\r\n\r\nnot a status line\r\n\r\n");
    EXPECT_EQ(broken.ret, -1);
}

TEST(HttpParse, FailuresAreLogged)
{
    LogCapture log(LOG_HTTP_PARSE, LOG_ERROR);
    EXPECT_EQ(Parsed("OPTIONS * HTTP/1.1\r\n\r\n").ret, -1);
    EXPECT_EQ(Parsed("GET / HTTP/1.1\r\nno colon here\r\n\r\n").ret, -1);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "Error ml\r\n");
    EXPECT_EQ(log.lines[1], "Error hl\r\n");
    EXPECT_TRUE(log.console.empty());
}

TEST(HttpParse, DocumentAndArguments)
{
    char text[] = "GET / HTTP/1.1\r\nHost: a\r\n\r\nrest";
    QNTextDoc doc = kHttpDocTemplate;
    docInitRead(&doc, text);
    HttpMsg msg{};
    ASSERT_EQ(doc.parse(&doc, &msg), 0);
    EXPECT_EQ(msg.doc, &doc);
    EXPECT_EQ(doc.user, &msg);
    EXPECT_EQ(msg.body, text + 25);
    EXPECT_EQ(doc.pos, 25u);

    EXPECT_EQ(httpParse(nullptr, &msg), QN_ERR_ARG);
    EXPECT_EQ(httpParse(&doc, nullptr), QN_ERR_ARG);
    doc.pos = doc.len + 1;
    EXPECT_EQ(httpParse(&doc, &msg), QN_ERR_ARG);

    EXPECT_EQ(httpParseText(nullptr, 10, &msg), QN_ERR_ARG);
    EXPECT_EQ(httpParseText(text, 0, &msg), QN_ERR_ARG);
    EXPECT_EQ(httpParseText(text, sizeof text, nullptr), QN_ERR_ARG);
    ASSERT_EQ(httpParseText(text, sizeof text, &msg), 0);
    EXPECT_EQ(msg.doc, nullptr);

    // Only size bytes are read, even without a terminator among them.
    char unterminated[] = {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '1', 'x'};
    EXPECT_EQ(httpParseText(unterminated, sizeof unterminated, &msg), -1);
    EXPECT_EQ(httpParseText(unterminated, sizeof unterminated - 1, &msg), 0);
}

// ---- Captured messages --------------------------------------------------------

struct CaptureCase {
    const char *file;
    int method;       // of every message in the file, or -1 for request then response
    int status;       // of the responses
    std::vector<int> headers;  // present in every message of that kind
};

std::vector<std::string> captures(const char *file)
{
    return qntest::wireMessages(qntest::dataPath(std::string("wire/") + file));
}

TEST(HttpParse, CapturedSsdpMessages)
{
    const CaptureCase cases[] = {
        {"minidlna/ssdp-notify.txt", HM_NOTIFY, 0, {HH_HOST, HH_NT, HH_NTS, HH_USN}},
        {"network-light/ssdp-notify.txt", HM_NOTIFY, 0, {HH_HOST, HH_NT, HH_NTS, HH_USN}},
        {"minidlna/ssdp-msearch-request.txt", HM_MSEARCH, 0, {HH_HOST, HH_MAN, HH_MX, HH_ST}},
        {"network-light/ssdp-msearch-request.txt", HM_MSEARCH, 0, {HH_HOST, HH_MAN, HH_MX, HH_ST}},
        {"minidlna/ssdp-msearch-responses.txt", HM_RESPONSE, 200,
         {HH_CACHE_CONTROL, HH_DATE, HH_ST, HH_USN, HH_EXT, HH_SERVER, HH_LOCATION, HH_CONTENT_LENGTH}},
        {"network-light/ssdp-msearch-responses.txt", HM_RESPONSE, 200,
         {HH_CACHE_CONTROL, HH_DATE, HH_ST, HH_USN, HH_EXT, HH_SERVER, HH_LOCATION, HH_CONTENT_LENGTH}},
    };
    for (const CaptureCase &c : cases) {
        std::vector<std::string> messages = captures(c.file);
        ASSERT_FALSE(messages.empty()) << c.file;
        for (size_t i = 0; i < messages.size(); ++i) {
            Parsed p(messages[i]);
            std::string where = std::string(c.file) + " #" + std::to_string(i);
            ASSERT_EQ(p.ret, 0) << where;
            EXPECT_EQ(p.msg.method, c.method) << where;
            EXPECT_EQ(p.msg.status, c.status) << where;
            EXPECT_GE(p.msg.count, c.headers.size()) << where;
            for (int index : c.headers)
                EXPECT_NE(findHeader(&p.msg, index), nullptr) << where << " header " << httpHeaderName(index);
            EXPECT_EQ(p.body(), "\r\n") << where;
            if (c.method == HM_NOTIFY) {
                EXPECT_STREQ(p.msg.uri, "*") << where;
                EXPECT_EQ(p.header(HH_HOST), "239.255.255.250:1900") << where;
                EXPECT_TRUE(p.header(HH_NTS) == "ssdp:alive" || p.header(HH_NTS) == "ssdp:byebye") << where;
            }
        }
    }
}

// Request and response of one TCP exchange.
struct ExchangeCase {
    const char *file;
    int method;
    const char *uri;
    int status;
    const char *reason;
    std::vector<std::pair<int, const char *>> requestHeaders;
    std::vector<std::pair<int, const char *>> responseHeaders;
};

TEST(HttpParse, CapturedExchanges)
{
    const char *soapAction = "\"urn:schemas-upnp-org:service:ContentDirectory:1#GetSearchCapabilities\"";
    const ExchangeCase cases[] = {
        {"minidlna/description.http.txt", HM_GET, "/rootDesc.xml", 200, "OK",
         {{HH_HOST, "127.0.0.1:8200"}, {HH_ACCEPT, "*/*"}},
         {{HH_CONTENT_TYPE, "text/xml; charset=\"utf-8\""}, {HH_CONNECTION, "close"}, {HH_CONTENT_LENGTH, "2198"},
          {HH_SERVER, "Debian DLNADOC/1.50 UPnP/1.0 MiniDLNA/1.3.0"}, {HH_DATE, "Tue, 08 Dec 2026 14:00:31 GMT"},
          {HH_EXT, ""}}},
        {"network-light/description.http.txt", HM_GET, "/ed966120-61ad-4289-bbf9-3a7963df5cc4.xml", 200, "OK",
         {{HH_HOST, "127.0.0.1:8400"}, {HH_ACCEPT, "*/*"}},
         // Accept-Ranges is not in the table (it has Accept-Range): skipped.
         {{HH_DATE, "Tue, 08 Dec 2026 14:01:14 GMT"}, {HH_USER_AGENT, "Linux/6.18.44-fc-v1403 UPnP/1.0 GUPnP/1.6.3"},
          {HH_CONTENT_TYPE, "text/xml; charset=\"utf-8\""}, {HH_CONTENT_LENGTH, "1570"}}},
        {"minidlna/gena-subscribe.txt", HM_SUBSCRIBE, "/evt/ContentDir", 200, "OK",
         {{HH_HOST, "127.0.0.1:8200"}, {HH_CALLBACK, "<http://127.0.0.1:44663/gena>"}, {HH_NT, "upnp:event"},
          {HH_TIMEOUT, "Second-300"}},
         {{HH_CONTENT_TYPE, "text/xml; charset=\"utf-8\""}, {HH_CONNECTION, "close"}, {HH_CONTENT_LENGTH, "0"},
          {HH_SERVER, "Debian DLNADOC/1.50 UPnP/1.0 MiniDLNA/1.3.0"}, {HH_TIMEOUT, "Second-300"},
          {HH_SID, "uuid:bb0682e8-f30f-11f1-aa16-215c8caafccb"}, {HH_DATE, "Tue, 08 Dec 2026 14:00:31 GMT"},
          {HH_EXT, ""}}},
        {"network-light/gena-subscribe.txt", HM_SUBSCRIBE, "/SwitchPower/Events", 200, "OK",
         {{HH_HOST, "127.0.0.1:8400"}, {HH_CALLBACK, "<http://127.0.0.1:46009/gena>"}, {HH_NT, "upnp:event"},
          {HH_TIMEOUT, "Second-300"}},
         {{HH_DATE, "Tue, 08 Dec 2026 14:01:14 GMT"}, {HH_SERVER, "Linux/6.18.44-fc-v1403 UPnP/1.0 GUPnP/1.6.3"},
          {HH_CONTENT_LENGTH, "0"}, {HH_SID, "uuid:c229a855-ef6d-450e-8728-19c0a611c3fa"},
          {HH_TIMEOUT, "Second-300"}}},
        {"minidlna/soap-action.txt", HM_POST, "/ctl/ContentDir", 200, "OK",
         {{HH_HOST, "127.0.0.1:8200"}, {HH_CONTENT_TYPE, "text/xml; charset=\"utf-8\""}, {HH_SOAPACTION, soapAction},
          {HH_CONNECTION, "close"}, {HH_CONTENT_LENGTH, "305"}},
         {{HH_CONTENT_LENGTH, "450"}, {HH_EXT, ""}}},
        {"minidlna/soap-fault-unknown-action.txt", HM_POST, "/ctl/ContentDir", 500, "Internal Server Error",
         {{HH_CONTENT_LENGTH, "287"}}, {{HH_CONTENT_LENGTH, "398"}}},
        {"minidlna/soap-fault-bad-args.txt", HM_POST, "/ctl/ContentDir", 200, "OK",
         {{HH_CONTENT_LENGTH, "327"}}, {{HH_CONTENT_LENGTH, "450"}}},
        {"network-light/soap-action.txt", HM_POST, "/SwitchPower/Control", 200, "OK",
         {{HH_SOAPACTION, "\"urn:schemas-upnp-org:service:SwitchPower:1#GetTarget\""}, {HH_CONTENT_LENGTH, "276"}},
         {{HH_CONTENT_LENGTH, "305"}, {HH_EXT, ""}}},
        {"network-light/soap-fault-unknown-action.txt", HM_POST, "/SwitchPower/Control", 500, "Internal server error",
         {{HH_CONTENT_LENGTH, "282"}}, {{HH_CONTENT_LENGTH, "419"}, {HH_EXT, ""}}},
        {"network-light/soap-fault-bad-args.txt", HM_POST, "/SwitchPower/Control", 200, "OK",
         {{HH_CONTENT_LENGTH, "298"}}, {{HH_CONTENT_LENGTH, "305"}}},
    };
    for (const ExchangeCase &c : cases) {
        std::vector<std::string> pair = captures(c.file);
        ASSERT_EQ(pair.size(), 2u) << c.file;
        Parsed request(pair[0]);
        ASSERT_EQ(request.ret, 0) << c.file;
        EXPECT_EQ(request.msg.method, c.method) << c.file;
        EXPECT_STREQ(request.msg.uri, c.uri) << c.file;
        for (const auto &[index, value] : c.requestHeaders)
            EXPECT_EQ(request.header(index), value) << c.file << " " << httpHeaderName(index);
        Parsed response(pair[1]);
        ASSERT_EQ(response.ret, 0) << c.file;
        EXPECT_EQ(response.msg.method, HM_RESPONSE) << c.file;
        EXPECT_EQ(response.msg.status, c.status) << c.file;
        EXPECT_STREQ(response.msg.reason, c.reason) << c.file;
        for (const auto &[index, value] : c.responseHeaders)
            EXPECT_EQ(response.header(index), value) << c.file << " " << httpHeaderName(index);
        // The body follows the CR LF of the empty line, as long as announced.
        for (const Parsed *p : {&request, &response}) {
            ASSERT_EQ(p->body().rfind("\r\n", 0), 0u) << c.file;
            const char *length = findHeader(&p->msg, HH_CONTENT_LENGTH);
            if (length != nullptr) {
                EXPECT_EQ(p->body().size() - 2, std::stoul(length)) << c.file;
            }
        }
    }
}

TEST(HttpParse, CapturedGenaNotify)
{
    std::vector<std::string> messages = captures("network-light/gena-initial-notify.txt");
    ASSERT_EQ(messages.size(), 1u);
    Parsed p(messages[0]);
    ASSERT_EQ(p.ret, 0);
    EXPECT_EQ(p.msg.method, HM_NOTIFY);
    EXPECT_STREQ(p.msg.uri, "/gena");
    EXPECT_EQ(p.msg.count, 9);
    EXPECT_EQ(p.header(HH_NT), "upnp:event");
    EXPECT_EQ(p.header(HH_NTS), "upnp:propchange");
    EXPECT_EQ(p.header(HH_SID), "uuid:c229a855-ef6d-450e-8728-19c0a611c3fa");
    EXPECT_EQ(p.header(HH_SEQ), "0");
    EXPECT_EQ(p.header(HH_ACCEPT_ENCODING), "gzip, deflate");
    EXPECT_EQ(p.body().substr(0, 23), "\r\n<?xml version=\"1.0\"?>");
}

// Every prefix of every captured message: the parser never reads past the
// text, and once the empty line is in, the result is that of the whole.
TEST(HttpParse, CapturedMessagesCutAnywhere)
{
    const char *files[] = {"minidlna/ssdp-notify.txt", "network-light/ssdp-msearch-responses.txt",
                           "minidlna/soap-action.txt", "network-light/gena-initial-notify.txt",
                           "network-light/description.http.txt"};
    for (const char *file : files) {
        for (const std::string &whole : captures(file)) {
            Parsed full(whole);
            ASSERT_EQ(full.ret, 0) << file;
            size_t headEnd = whole.find("\r\n\r\n") + 2;
            for (size_t cut = 0; cut <= whole.size(); ++cut) {
                std::vector<char> exact(whole.begin(), whole.begin() + static_cast<long>(cut));
                HttpMsg msg{};
                // No terminator inside size: the parser must stop at size.
                int ret = exact.empty() ? QN_ERR_ARG
                                        : httpParseText(exact.data(), static_cast<uint32_t>(exact.size()), &msg);
                if (cut < headEnd)
                    continue;
                ASSERT_EQ(ret, 0) << file << " cut at " << cut;
                ASSERT_EQ(msg.count, full.msg.count) << file << " cut at " << cut;
                EXPECT_EQ(msg.body - exact.data(), full.msg.body - full.buffer.data());
            }
        }
    }
}

// ---- Writer -------------------------------------------------------------------

std::string serialize(HttpMsg *msg)
{
    static char out[kMsgBufSize];
    QNTextDoc doc = kHttpDocTemplate;
    doc.write = docAppend;
    docInitWrite(&doc, out, sizeof out);
    EXPECT_EQ(httpSerialize(&doc, msg), 0);
    EXPECT_EQ(doc.pos, 0u);
    return out;
}

HttpMsg makeMsg(int method, const char *uri, int status,
                std::vector<std::pair<int, std::string>> headers, const char *body)
{
    HttpMsg msg{};
    msg.major = 1;
    msg.minor = 1;
    msg.method = method;
    copyBounded(msg.uri, sizeof msg.uri, uri);
    msg.status = static_cast<uint16_t>(status);
    for (const auto &[index, value] : headers) {
        msg.headers[msg.count].index = index;
        copyBounded(msg.headers[msg.count].value, QN_VAL_MAX_LEN, value);
        ++msg.count;
    }
    msg.body = const_cast<char *>(body);
    return msg;
}

struct WriteCase {
    const char *name;
    HttpMsg msg;
    std::string text;
};

TEST(HttpSerialize, WritesStartLinesAndHeadersAsTheTableSpellsThem)
{
    const WriteCase cases[] = {
        {"request", makeMsg(HM_MSEARCH, "*", 0, {{HH_HOST, "239.255.255.250:1900"}, {HH_MAN, "\"ssdp:discover\""},
                                                 {HH_MX, "3"}, {HH_ST, "ssdp:all"}}, nullptr),
         "M-SEARCH * HTTP/1.1\r\nHost: 239.255.255.250:1900\r\nMan: \"ssdp:discover\"\r\nMx: 3\r\n"
         "St: ssdp:all\r\n\r\n"},
        {"notify", makeMsg(HM_NOTIFY, "*", 0, {{HH_NT, "upnp:rootdevice"}, {HH_NTS, "ssdp:alive"},
                                                {HH_USN, "uuid:x::upnp:rootdevice"}}, nullptr),
         "NOTIFY * HTTP/1.1\r\nNt: upnp:rootdevice\r\nNts: ssdp:alive\r\nUsn: uuid:x::upnp:rootdevice\r\n\r\n"},
        {"response with body", makeMsg(HM_RESPONSE, "", 200, {{HH_SID, "uuid:s"}, {HH_TIMEOUT, "Second-300"}}, "<x/>"),
         "HTTP/1.1 200 OK\r\nSid: uuid:s\r\nTimeout: Second-300\r\n\r\n<x/>"},
        {"status 307", makeMsg(HM_RESPONSE, "", 307, {}, nullptr), "HTTP/1.1 307 Temporary Redirect\r\n\r\n"},
        {"status 299 unknown", makeMsg(HM_RESPONSE, "", 299, {}, nullptr), "HTTP/1.1 500 Internal Server Error\r\n\r\n"},
        {"status 306 has no phrase", makeMsg(HM_RESPONSE, "", 306, {}, nullptr),
         "HTTP/1.1 500 Internal Server Error\r\n\r\n"},
        {"status 0", makeMsg(HM_RESPONSE, "", 0, {}, nullptr), "HTTP/1.1 500 Internal Server Error\r\n\r\n"},
        {"status 417", makeMsg(HM_RESPONSE, "", 417, {}, nullptr), "HTTP/1.1 417 Expectation Failed\r\n\r\n"},
        {"status 418", makeMsg(HM_RESPONSE, "", 418, {}, nullptr), "HTTP/1.1 500 Internal Server Error\r\n\r\n"},
        {"rows without a name are left out", makeMsg(HM_GET, "/", 0, {{21, "a"}, {HH_UNKNOWN, "b"}, {HH_HOST, "h"}}, nullptr),
         "GET / HTTP/1.1\r\nHost: h\r\n\r\n"},
    };
    for (const WriteCase &c : cases) {
        HttpMsg msg = c.msg;
        EXPECT_EQ(serialize(&msg), c.text) << c.name;
    }
}

TEST(HttpSerialize, RoundTrip)
{
    std::string longValue(QN_VAL_MAX_LEN - 1, 'L');
    HttpMsg cases[] = {
        makeMsg(HM_POST, "/ctl/ContentDir", 0,
                {{HH_HOST, "10.0.0.2:8200"}, {HH_CONTENT_TYPE, "text/xml; charset=\"utf-8\""},
                 {HH_SOAPACTION, "\"urn:schemas-upnp-org:service:ContentDirectory:1#Browse\""},
                 {HH_CONTENT_LENGTH, "8"}, {HH_EXT, ""}, {HH_LOCATION, longValue}},
                "<a>b</a>"),
        makeMsg(HM_RESPONSE, "", 404, {{HH_SERVER, "s"}, {HH_CONNECTION, "close"}}, nullptr),
        makeMsg(HM_UNSUBSCRIBE, "/evt", 0, {{HH_SID, "uuid:1"}, {HH_HOST, "h"}, {HH_HOST, "h2"}}, nullptr),
    };
    for (HttpMsg &written : cases) {
        Parsed back(serialize(&written));
        ASSERT_EQ(back.ret, 0);
        EXPECT_EQ(back.msg.method, written.method);
        EXPECT_STREQ(back.msg.uri, written.uri);
        EXPECT_EQ(back.msg.status, written.status);
        EXPECT_EQ(back.msg.major, 1);
        EXPECT_EQ(back.msg.minor, 1);
        ASSERT_EQ(back.msg.count, written.count);
        for (int i = 0; i < written.count; ++i) {
            EXPECT_EQ(back.msg.headers[i].index, written.headers[i].index);
            EXPECT_STREQ(back.msg.headers[i].value, written.headers[i].value);
        }
        EXPECT_EQ(back.body(), "\r\n" + std::string(written.body ? written.body : ""));
    }
}

// Captured messages, parsed, written and parsed again, keep what the table holds.
TEST(HttpSerialize, CapturedRoundTrip)
{
    for (const char *file : {"minidlna/ssdp-msearch-responses.txt", "network-light/gena-initial-notify.txt",
                             "minidlna/gena-subscribe.txt"}) {
        for (const std::string &whole : captures(file)) {
            Parsed first(whole);
            ASSERT_EQ(first.ret, 0) << file;
            first.msg.body = nullptr;
            Parsed second(serialize(&first.msg));
            ASSERT_EQ(second.ret, 0) << file;
            EXPECT_EQ(second.msg.method, first.msg.method) << file;
            ASSERT_EQ(second.msg.count, first.msg.count) << file;
            for (int i = 0; i < first.msg.count; ++i)
                EXPECT_STREQ(second.msg.headers[i].value, first.msg.headers[i].value) << file;
        }
    }
}

TEST(HttpSerialize, OutputIsCutToTheDocument)
{
    HttpMsg msg = makeMsg(HM_GET, "/abc", 0, {{HH_HOST, "h"}}, nullptr);
    char out[10];
    QNTextDoc doc = kHttpDocTemplate;
    doc.write = docAppend;
    docInitWrite(&doc, out, sizeof out);
    EXPECT_EQ(httpSerialize(&doc, &msg), 0);
    EXPECT_STREQ(out, "GET /abc ");

    EXPECT_EQ(httpSerialize(nullptr, &msg), QN_ERR_ARG);
    EXPECT_EQ(httpSerialize(&doc, nullptr), QN_ERR_ARG);
    msg.method = 9;
    EXPECT_EQ(httpSerialize(&doc, &msg), QN_ERR_ARG);
}

TEST(HttpPrintToSock, RefusesADocumentWithoutASocket)
{
    LogCapture log(LOG_SOCK, LOG_ERROR);
    char out[64];
    HttpMsg msg{};
    QNTextDoc doc = kHttpDocTemplate;
    docInitWrite(&doc, out, sizeof out);
    doc.user = &msg;
    EXPECT_EQ(httpPrintToSock(&doc, "x"), -1);
    EXPECT_EQ(httpSerialize(&doc, &msg), -1);
    EXPECT_EQ(httpPrintToSock(nullptr, "x"), -1);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines[0], "Print to sock: arg err\r\n");
}

// ---- Tables and dates --------------------------------------------------------

TEST(HttpTables, ReasonPhrases)
{
    const std::pair<int, const char *> cases[] = {
        {0, nullptr},   {99, nullptr},  {100, "Continue"},         {101, "Switching Protocols"},
        {102, nullptr}, {200, "OK"},    {206, "Partial Content"},  {207, nullptr},
        {306, nullptr}, {307, "Temporary Redirect"},               {308, nullptr},
        {400, "Bad Request"},           {414, "Request-URI Too Long"},                 {417, "Expectation Failed"},
        {418, nullptr}, {500, "Internal Server Error"},            {505, "HTTP Version Not Supported"},
        {506, nullptr}, {600, nullptr}, {-1, nullptr},             {65535, nullptr},
    };
    for (const auto &[status, reason] : cases) {
        if (reason == nullptr)
            EXPECT_EQ(httpReason(status), nullptr) << status;
        else
            EXPECT_STREQ(httpReason(status), reason) << status;
    }
}

TEST(HttpTables, ClassifyTokens)
{
    struct Case {
        const char *name;
        int cls;
        int ret;
        int index;
    };
    const Case cases[] = {
        {"m-search", 0, 0, HM_MSEARCH}, {"NOTIFY", 0, 0, HM_NOTIFY},     {"usn", 0, 0, HH_USN},
        {"KEEP-ALIVE", 0, 0, HH_KEEP_ALIVE}, {"Accept-Ranges", 0, -1, HH_UNKNOWN}, {"", 0, -1, HH_UNKNOWN},
        {"OPTIONS", 0, -1, HH_UNKNOWN}, {"host", kTagClassRaw, 0, 77},
    };
    for (const Case &c : cases) {
        QNXmlTag tag{};
        tag.index = 77;
        tag.cls = c.cls;
        copyBounded(tag.name, sizeof tag.name, c.name);
        EXPECT_EQ(httpClassify(&tag), c.ret) << c.name;
        EXPECT_EQ(tag.index, c.index) << c.name;
    }
    EXPECT_EQ(httpClassify(nullptr), QN_ERR_ARG);
    EXPECT_STREQ(httpMethodName(HM_MPOST), "M-POST");
    EXPECT_STREQ(httpMethodName(HM_RESPONSE), "");
    EXPECT_STREQ(httpHeaderName(HH_SOAPACTION), "SOAPAction");
    EXPECT_STREQ(httpHeaderName(21), "");
    EXPECT_STREQ(httpHeaderName(HH_UNKNOWN), "");
}

TEST(HttpTables, FindHeaderBounds)
{
    Parsed p("GET / HTTP/1.1\r\nHost: a\r\n\r\n");
    ASSERT_EQ(p.ret, 0);
    EXPECT_EQ(findHeader(&p.msg, HH_UNKNOWN), nullptr);
    EXPECT_EQ(findHeader(&p.msg, -1), nullptr);
    EXPECT_EQ(findHeader(&p.msg, HH_ST), nullptr);
    EXPECT_EQ(findHeader(nullptr, HH_HOST), nullptr);
    p.msg.count = 60000; // a broken count never reads past the array
    EXPECT_STREQ(findHeader(&p.msg, HH_HOST), "a");
}

TEST(HttpDate, Format)
{
    char date[64];
    EXPECT_EQ(httpFormatDate(1796605323, date, sizeof date), 29);
    EXPECT_STREQ(date, "Mon, 07 Dec 2026 01:02:03 GMT");
    EXPECT_EQ(httpFormatDate(0, date, sizeof date), 29);
    EXPECT_STREQ(date, "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(httpFormatDate(951782400, date, sizeof date), 29);
    EXPECT_STREQ(date, "Tue, 29 Feb 2000 00:00:00 GMT");
    EXPECT_EQ(httpFormatDate(1796605323, date, 9), 8);
    EXPECT_STREQ(date, "Mon, 07 ");
    EXPECT_EQ(httpFormatDate(0, nullptr, 10), QN_ERR_ARG);
    EXPECT_EQ(httpDate(date, 0), QN_ERR_ARG);

    // Now: same shape, letters where the names go and digits for numbers.
    ASSERT_EQ(httpDate(date, sizeof date), 29);
    const std::string shape = "Aaa, 00 Aaa 0000 00:00:00 GMT";
    for (size_t i = 0; i < shape.size(); ++i) {
        char c = date[i];
        bool fits = shape[i] == '0' ? (c >= '0' && c <= '9')
                    : shape[i] == 'A' ? (c >= 'A' && c <= 'Z')
                    : shape[i] == 'a' ? (c >= 'a' && c <= 'z')
                                      : c == shape[i];
        EXPECT_TRUE(fits) << date << " at " << i;
    }
}

} // namespace
