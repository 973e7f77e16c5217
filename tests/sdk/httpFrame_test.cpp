// Framing of raw HTTP text: the end of the headers, Content-Length, chunked
// detection and de-chunking, fed whole and cut at every byte.
#include "httpFrame.h"
#include "netns.h"
#include "qnLimits.h"
#include "wireCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct EndCase {
    const char *name;
    std::string raw;
    size_t end;
};

TEST(HttpHeadersEnd, FindsTheEmptyLine)
{
    const EndCase cases[] = {
        {"CR LF", "GET / HTTP/1.1\r\nHost: a\r\n\r\nbody", 27},
        {"LF only", "GET / HTTP/1.1\nHost: a\n\nbody", 24},
        {"CR LF then LF", "GET / HTTP/1.1\r\n\nbody", 17},
        {"LF then CR LF", "GET / HTTP/1.1\n\r\nbody", 17},
        {"no headers", "HTTP/1.1 200 OK\r\n\r\n", 19},
        {"empty lines first", "\r\n\r\nGET / HTTP/1.1\r\n\r\n", 22},
        {"cut inside the final CR LF", "GET / HTTP/1.1\r\n\r", kHttpNpos},
        {"one line end", "GET / HTTP/1.1\r\n", kHttpNpos},
        {"no line end", "GET / HTTP/1.1", kHttpNpos},
        {"empty", "", kHttpNpos},
        {"only empty lines", "\r\n\r\n\r\n", kHttpNpos},
        {"CR CR is no empty line", "GET / HTTP/1.1\r\r\n\r\r\nx\r\n\r\n", 25},
        {"NUL in a header", std::string("GET / HTTP/1.1\r\nA: \0\r\n\r\n", 24), 24},
    };
    for (const EndCase &c : cases)
        EXPECT_EQ(httpHeadersEnd(c.raw), c.end) << c.name;
}

// Whatever arrives first, the end is found exactly when the empty line is in.
TEST(HttpHeadersEnd, CapturedMessagesArrivingByteByByte)
{
    for (const char *file : {"minidlna/soap-action.txt", "network-light/description.http.txt",
                             "network-light/gena-initial-notify.txt", "minidlna/ssdp-msearch-responses.txt"}) {
        for (const std::string &whole : qntest::wireMessages(qntest::dataPath(std::string("wire/") + file))) {
            size_t expected = whole.find("\r\n\r\n") + 4;
            ASSERT_EQ(httpHeadersEnd(whole), expected) << file;
            for (size_t cut = 0; cut < whole.size(); ++cut) {
                std::string part = whole.substr(0, cut);
                ASSERT_EQ(httpHeadersEnd(part), cut < expected ? kHttpNpos : expected) << file << " " << cut;
            }
        }
    }
}

struct LengthCase {
    const char *name;
    std::string headers;
    long long length;
};

TEST(HttpContentLength, ReadsOnePlainNumber)
{
    const LengthCase cases[] = {
        {"plain", "POST / HTTP/1.1\r\nContent-Length: 305\r\n\r\n", 305},
        {"any case", "HTTP/1.1 200 OK\r\ncontent-length:42\r\n\r\n", 42},
        {"blanks around", "X\r\nCONTENT-LENGTH : \t 7 \r\n\r\n", 7},
        {"zero", "X\r\nContent-Length: 0\r\n\r\n", 0},
        {"leading zeros", "X\r\nContent-Length: 0007\r\n\r\n", 7},
        {"eighteen digits", "X\r\nContent-Length: 999999999999999999\r\n\r\n", 999999999999999999LL},
        {"nineteen digits", "X\r\nContent-Length: 9999999999999999999\r\n\r\n", -1},
        {"huge", "X\r\nContent-Length: 99999999999999999999999999999999\r\n\r\n", -1},
        {"absent", "GET / HTTP/1.1\r\nHost: a\r\n\r\n", -1},
        {"empty value", "X\r\nContent-Length:\r\n\r\n", -1},
        {"sign", "X\r\nContent-Length: +5\r\n\r\n", -1},
        {"negative", "X\r\nContent-Length: -5\r\n\r\n", -1},
        {"two numbers", "X\r\nContent-Length: 5 5\r\n\r\n", -1},
        {"hex", "X\r\nContent-Length: 0x10\r\n\r\n", -1},
        {"same twice", "X\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", 5},
        {"different twice", "X\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", -1},
        {"bad then good", "X\r\nContent-Length: x\r\nContent-Length: 6\r\n\r\n", -1},
        {"longer name", "X\r\nContent-Length-X: 5\r\n\r\n", -1},
        {"in the body", "X\r\nHost: a\r\n\r\nContent-Length: 5\r\n", -1},
        {"LF only", "X\nContent-Length: 12\n\n", 12},
        {"no empty line yet", "X\r\nContent-Length: 12\r\n", 12},
        {"NUL after digits", std::string("X\r\nContent-Length: 1\0\r\n\r\n", 25), -1},
    };
    for (const LengthCase &c : cases)
        EXPECT_EQ(httpContentLength(c.headers), c.length) << c.name;
}

TEST(HttpIsChunked, LooksAtTransferEncodingOnly)
{
    const std::pair<const char *, bool> cases[] = {
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\ntransfer-encoding: gzip, CHUNKED\r\n\r\n", true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\nX-Transfer-Encoding: chunked\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\nContent-Type: chunked\r\n\r\n", false},
        {"HTTP/1.1 200 OK\r\n\r\nTransfer-Encoding: chunked\r\n", false},
        {"", false},
    };
    for (const auto &[headers, chunked] : cases)
        EXPECT_EQ(httpIsChunked(headers), chunked) << headers;
}

struct ChunkCase {
    const char *name;
    std::string body;
    int ret;
    std::string data;
};

int dechunk(std::string body, std::string *data)
{
    std::vector<char> buf(body.begin(), body.end());
    buf.push_back('\0');
    size_t n = 12345;
    int ret = httpDechunk(buf.data(), body.size(), &n);
    if (ret == 0) {
        EXPECT_EQ(buf[n], '\0');
        *data = std::string(buf.data(), n);
    } else {
        EXPECT_EQ(std::string(buf.data(), body.size()), body) << "changed although not complete";
        EXPECT_EQ(n, 12345u);
    }
    return ret;
}

std::string hexSize(size_t n)
{
    char text[32];
    std::snprintf(text, sizeof text, "%zx", n);
    return text;
}

TEST(HttpDechunk, WholeBodies)
{
    const ChunkCase cases[] = {
        {"two chunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", 0, "hello world"},
        {"only the last chunk", "0\r\n\r\n", 0, ""},
        {"upper-case hex", "A\r\n0123456789\r\n0\r\n\r\n", 0, "0123456789"},
        {"leading zeros", "00000000000000000000003\r\nabc\r\n0\r\n\r\n", 0, "abc"},
        {"extension", "3;name=value\r\nabc\r\n0;last\r\n\r\n", 0, "abc"},
        {"blank before the extension", "3 ;x\r\nabc\r\n0\r\n\r\n", 0, "abc"},
        {"trailers", "3\r\nabc\r\n0\r\nExpires: never\r\nX: y\r\n\r\n", 0, "abc"},
        {"LF only", "3\nabc\n0\n\n", 0, "abc"},
        {"CR LF inside the data", "4\r\n\r\n\r\n\r\n0\r\n\r\n", 0, "\r\n\r\n"},
        {"NUL inside the data", std::string("3\r\na\0b\r\n0\r\n\r\n", 13), 0, std::string("a\0b", 3)},
        {"data after the end", "1\r\na\r\n0\r\n\r\nGET / HTTP/1.1\r\n", 0, "a"},
        {"no size", "\r\nabc\r\n0\r\n\r\n", -1, ""},
        {"size with junk", "3x\r\nabc\r\n0\r\n\r\n", -1, ""},
        {"negative size", "-3\r\nabc\r\n0\r\n\r\n", -1, ""},
        {"data longer than its size", "2\r\nabc\r\n0\r\n\r\n", -1, ""},
        {"data without its line end", "3\r\nabc0\r\n\r\n", -1, ""},
        {"CR without LF after the size", "3\rabc\r\n0\r\n\r\n", -1, ""},
        {"64-bit size", "ffffffffffffffff\r\nabc\r\n0\r\n\r\n", -1, ""},
        {"size that wraps 64 bits", "10000000000000003\r\nabc\r\n0\r\n\r\n", -1, ""},
        {"larger than any buffer", hexSize(kMsgBufSize + 1) + "\r\nabc\r\n", -1, ""},
        {"as large as a buffer", hexSize(kMsgBufSize) + "\r\nabc\r\n", 1, ""},
        {"size beyond the text", "10\r\nabc\r\n0\r\n\r\n", 1, ""},
        {"no last chunk", "3\r\nabc\r\n", 1, ""},
        {"no empty line after the last chunk", "3\r\nabc\r\n0\r\n", 1, ""},
        {"trailer not ended", "0\r\nX: y\r\n", 1, ""},
        {"empty", "", 1, ""},
    };
    for (const ChunkCase &c : cases) {
        std::string data;
        EXPECT_EQ(dechunk(c.body, &data), c.ret) << c.name;
        if (c.ret == 0) {
            EXPECT_EQ(data, c.data) << c.name;
        }
    }
    size_t n = 0;
    EXPECT_EQ(httpDechunk(nullptr, 0, &n), -1);
    char text[] = "0\r\n\r\n";
    EXPECT_EQ(httpDechunk(text, 5, nullptr), -1);
}

// A body that arrives in pieces: every cut before its end is incomplete and
// leaves the text as it was; an error never turns into success later.
TEST(HttpDechunk, CutAtEveryByte)
{
    const std::string bodies[] = {
        "5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\nTrailer: x\r\n\r\n",
        "1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
        "3\nabc\n0\n\n",
    };
    for (const std::string &body : bodies) {
        std::string whole;
        ASSERT_EQ(dechunk(body, &whole), 0) << body;
        for (size_t cut = 0; cut < body.size(); ++cut) {
            std::string data;
            EXPECT_EQ(dechunk(body.substr(0, cut), &data), 1) << body << " cut at " << cut;
        }
    }
    const std::string broken = "3\r\nabcX\r\n0\r\n\r\n";
    bool failed = false;
    for (size_t cut = 0; cut <= broken.size(); ++cut) {
        std::string data;
        int ret = dechunk(broken.substr(0, cut), &data);
        EXPECT_NE(ret, 0) << cut;
        if (failed) {
            EXPECT_EQ(ret, -1) << cut;
        }
        failed = failed || ret == -1;
    }
    EXPECT_TRUE(failed);
}

TEST(HttpDechunk, LargeBodyInManyChunks)
{
    std::string body, expected;
    for (int i = 0; i < 2000; ++i) {
        std::string piece(static_cast<size_t>(i % 37 + 1), static_cast<char>('a' + i % 26));
        body += hexSize(piece.size()) + "\r\n" + piece + "\r\n";
        expected += piece;
    }
    body += "0\r\n\r\n";
    std::string data;
    ASSERT_EQ(dechunk(body, &data), 0);
    EXPECT_EQ(data, expected);
}

} // namespace

// ---- Whole requests as they arrive on a connection -------------------------------------

struct FrameCase {
    const char *name;
    std::string raw;
    FrameState state; // of the whole text
    int status;       // Bad: the answer
    size_t length;    // Complete: the bytes of the first request
};

TEST(HttpFrameRequest, CompleteBadOrStillComing)
{
    const std::string get = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
    const std::string post = "POST /c HTTP/1.1\r\nHost: a\r\n";
    const FrameCase cases[] = {
        {"no body", get, FrameState::Complete, 0, get.size()},
        {"a second request is not the first one's body", get + get, FrameState::Complete, 0, get.size()},
        {"body by Content-Length", post + "Content-Length: 3\r\n\r\nabcGET", FrameState::Complete, 0,
         post.size() + 24},
        {"same length twice", post + "Content-Length: 3\r\nContent-Length: 3\r\n\r\nabc", FrameState::Complete, 0,
         post.size() + 43},
        {"chunked body", post + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\nGET", FrameState::Complete, 0,
         post.size() + 43},
        {"head not ended", "GET / HTTP/1.1\r\nHost: a\r\n", FrameState::Incomplete, 0, 0},
        {"body short", post + "Content-Length: 9\r\n\r\nabc", FrameState::Incomplete, 0, 0},
        {"negative length", post + "Content-Length: -3\r\n\r\nabc", FrameState::Bad, 400, 0},
        {"hexadecimal length", post + "Content-Length: 0x3\r\n\r\nabc", FrameState::Bad, 400, 0},
        {"length that overflows", post + "Content-Length: 99999999999999999999\r\n\r\n", FrameState::Bad, 400, 0},
        {"length beyond the buffer", post + "Content-Length: 100000\r\n\r\n", FrameState::Bad, 413, 0},
        {"two lengths", post + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd", FrameState::Bad, 400, 0},
        {"both framings", post + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n", FrameState::Bad, 400, 0},
        {"unknown coding", post + "Transfer-Encoding: gzip\r\n\r\n", FrameState::Bad, 400, 0},
        {"malformed chunk", post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", FrameState::Bad, 400, 0},
        {"NUL in the head", std::string("GET / HTTP/1.1\r\nA: \0\r\n\r\n", 24), FrameState::Bad, 400, 0},
        {"escape in the head", "GET / HTTP/1.1\r\nA: \x1b[m\r\n\r\n", FrameState::Bad, 400, 0},
        {"lone CR in the head", "GET / HTTP/1.1\r\nA: x\ry\r\n\r\n", FrameState::Bad, 400, 0},
        {"NUL in the body is the body's", post + "Content-Length: 1\r\n\r\n" + std::string(1, '\0'),
         FrameState::Complete, 0, post.size() + 22},
    };
    constexpr size_t kRoom = 65536;
    for (const FrameCase &c : cases) {
        RequestFrame f = httpFrameRequest(c.raw, kRoom);
        EXPECT_EQ(f.state, c.state) << c.name;
        if (c.state == FrameState::Bad) {
            EXPECT_EQ(f.status, c.status) << c.name;
        }
        if (c.state == FrameState::Complete) {
            EXPECT_EQ(f.length, c.length) << c.name;
        }
        // Arriving byte by byte, it is complete exactly once the framing is
        // satisfied, and never judged complete before.
        for (size_t cut = 0; cut < c.raw.size() && c.state == FrameState::Complete; ++cut) {
            RequestFrame part = httpFrameRequest(std::string_view(c.raw).substr(0, cut), kRoom);
            ASSERT_EQ(part.state, cut < c.length ? FrameState::Incomplete : FrameState::Complete) << c.name << cut;
        }
    }
    // A head that fills the room without ending.
    EXPECT_EQ(httpFrameRequest(std::string(100, 'a'), 100).state, FrameState::Bad);
}

TEST(HttpAnswerState, FramedUnframedAndShort)
{
    const struct {
        const char *name;
        std::string raw;
        AnswerState state;
    } cases[] = {
        {"length satisfied", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab", AnswerState::Complete},
        {"length short", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nab", AnswerState::Incomplete},
        {"no framing", "HTTP/1.1 200 OK\r\n\r\nab", AnswerState::UntilClose},
        {"head not ended", "HTTP/1.1 200 OK\r\n", AnswerState::Incomplete},
        {"chunked, last chunk in", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\n\r\n",
         AnswerState::Complete},
        {"chunked, cut", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\na", AnswerState::Incomplete},
        {"after an interim 100", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
         AnswerState::Complete},
    };
    for (const auto &c : cases)
        EXPECT_EQ(httpAnswerState(c.raw), c.state) << c.name;
}
