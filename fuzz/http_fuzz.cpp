// Hostile text for the HTTP layer: the parser, the framing helpers and the
// de-chunker must stay inside their input, and whatever parses must write
// and parse back to the same message.
#include "http.h"
#include "httpFrame.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

void roundTrip(const HttpMsg &first)
{
    static char out[kMsgBufSize];
    static HttpMsg second;
    HttpMsg written = first;
    written.body = nullptr;
    QNTextDoc doc = kHttpDocTemplate;
    doc.write = docAppend;
    docInitWrite(&doc, out, sizeof out);
    check(httpSerialize(&doc, &written) == 0);
    check(httpParseText(out, sizeof out, &second) == 0);
    check(second.method == first.method && second.count == first.count);
    check(std::strcmp(second.uri, first.uri) == 0);
    if (first.method == HM_RESPONSE && httpReason(first.status) != nullptr)
        check(second.status == first.status);
    for (int i = 0; i < first.count; ++i) {
        check(second.headers[i].index == first.headers[i].index);
        check(std::strcmp(second.headers[i].value, first.headers[i].value) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view raw(reinterpret_cast<const char *>(data), size);
    size_t end = httpHeadersEnd(raw);
    check(end == kHttpNpos || end <= size);
    std::string_view head = end == kHttpNpos ? raw : raw.substr(0, end);
    (void)httpContentLength(head);
    (void)httpIsChunked(head);

    // Exactly size bytes, so that any read past them is caught.
    std::vector<char> text(raw.begin(), raw.end());
    static HttpMsg msg;
    if (size > 0 && httpParseText(text.data(), static_cast<uint32_t>(size), &msg) == 0) {
        check(msg.count <= kMaxHeaders);
        check(msg.body >= text.data() && msg.body <= text.data() + size);
        roundTrip(msg);
    }

    std::vector<char> body(raw.begin(), raw.end());
    size_t outLen = 0;
    int ret = httpDechunk(body.data(), body.size(), &outLen);
    check(ret == -1 || ret == 1 || (ret == 0 && outLen < size));
    if (ret != 0 && size > 0)
        check(std::memcmp(body.data(), data, size) == 0);
    return 0;
}
