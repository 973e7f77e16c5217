// Fuzzes what control and eventing read from and write for peers: the
// delivery URLs of a hostile Callback header stay in bounds, each one an
// address with its path, and reading always ends; a value of any bytes,
// written into a request, an answer and an event, reads back unchanged.
#include "fuzzSupport.h"
#include "gena.h"
#include "soapParse.h"
#include "soapWrite.h"

using namespace qnfuzz;

namespace {

void checkCallbackText(const char *text)
{
    size_t pos = 0;
    size_t len = std::strlen(text);
    CallbackUrl url{};
    CallbackRead r = CB_URL;
    int n = 0;
    while ((r = readCallbackUrl(text, &pos, &url)) == CB_URL) {
        check(pos <= len);
        check(++n <= static_cast<int>(len));
        checkTerminated(url.path, sizeof url.path);
        check(url.path[0] == '/' && url.port != 0);
    }
    check(pos <= len && (r != CB_END || pos == len));
    // A text the subscription keeps names 1 to kMaxCallbackUrls URLs, all
    // of them read.
    int kept = checkCallbacks(text, url.addr);
    check(kept == -1 || (kept >= 1 && kept <= kMaxCallbackUrls && r == CB_END && kept == n));
}

// What the stack's reader makes of a written body.
QNApiAction readBack(const SoapText &out)
{
    static std::vector<char> buf(kSoapBodyMax + 1);
    std::memcpy(buf.data(), out.data(), out.size());
    buf[out.size()] = '\0';
    QNTextDoc doc;
    xmlDocOpen(&doc, kSoapDocKind, buf.data(), 0);
    QNApiAction a{};
    check(parseSoap(&doc, &a) == 0);
    return a;
}

// The value as a record holds it: cut to 511 bytes, without a UTF-8
// sequence split at the cut (the reader cuts on character boundaries).
bool fitsWhole(const std::string &value)
{
    return value.size() < QN_VAL_MAX_LEN;
}

void checkRoundTrip(const std::string &value)
{
    if (!fitsWhole(value))
        return;
    QNApiAction a{};
    copyBounded(a.action, sizeof a.action, "Set");
    copyBounded(a.argNV[0].name, sizeof a.argNV[0].name, "V");
    copyBounded(a.argNV[0].val, sizeof a.argNV[0].val, value);
    a.argNum = 1;
    SoapText request, answer, event;
    check(writeActionRequest(request, "urn:schemas-upnp-org:service:X:1", a));
    check(writeActionResponse(answer, "urn:schemas-upnp-org:service:X:1", a));
    check(writeEventBody(event, a.argNV, 1));
    for (const SoapText *out : {&request, &answer, &event}) {
        QNApiAction back = readBack(*out);
        check(back.argNum == 1);
        check(std::string(back.argNV[0].val) == value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> &doc = documentOf(data, size);
    char callback[QN_VAL_MAX_LEN];
    copyBounded(callback, sizeof callback, doc.data());
    checkCallbackText(callback);
    checkRoundTrip(doc.data());
    return 0;
}
