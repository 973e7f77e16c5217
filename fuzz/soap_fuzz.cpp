// Fuzzes parseSoap: envelopes, faults and property sets from hostile peers
// stay in bounds; the plain envelope that a parse leaves in the buffer, and
// a property set written from the pairs, parse back and are written again
// unchanged.
#include "fuzzSupport.h"
#include "soapParse.h"

using namespace qnfuzz;

namespace {

void checkAction(const QNApiAction &a)
{
    check(a.argNum <= QN_ARG_MAX_NUM);
    checkTerminated(a.action, sizeof a.action);
    for (int i = 0; i < a.argNum; ++i)
        checkPair(a.argNV[i]);
}

// parse(text) into *a; the text left in the buffer.
int parseText(const std::string &text, QNApiAction *a, std::string *after)
{
    static std::vector<char> buf(kMaxDocument + 1);
    if (text.size() + 1 > buf.size())
        return -1;
    std::memcpy(buf.data(), text.c_str(), text.size() + 1);
    QNTextDoc doc{};
    xmlDocOpen(&doc, kSoapDocKind, buf.data(), static_cast<uint32_t>(buf.size()));
    int ret = parseSoap(&doc, a);
    *after = std::string(doc.text, doc.len);
    return ret;
}

std::string writeText(const QNApiAction &a)
{
    static std::vector<char> out(kMaxDocument + 1);
    QNTextDoc doc = kSoapDocKind;
    docInitWrite(&doc, out.data(), static_cast<uint32_t>(out.size()));
    check(writeSoap(&doc, &a) == 0);
    return std::string(doc.text, doc.len);
}

// The local name of the document element, as parseSoap sees it.
std::string topLocalName(std::vector<char> &buf)
{
    QNTextDoc doc = kSoapDocKind;
    docInitRead(&doc, buf.data());
    XmlChild top{};
    if (xmlSkipDecl(&doc) != 0 || xmlReadElementAt(&doc, &top) != 0)
        return {};
    return std::string(xmlLocalName(xmlChildName(&doc, top)));
}

// A pair named faultcode may become the first of the plain form (the pairs
// before it being left out), which then reads as a fault without detail.
bool looksLikeFault(const QNApiAction &a)
{
    for (int i = 0; i < a.argNum; ++i)
        if (xmlLocalName(a.argNV[i].name) == "faultcode")
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> &buf = documentOf(data, size);
    const std::string input(buf.data());
    const std::string kind = topLocalName(buf);
    QNApiAction first{};
    std::string plain;
    int ret = parseText(input, &first, &plain);
    checkAction(first);
    if (ret != 0)
        return 0;

    QNApiAction second{};
    std::string again;
    if (kind == "Envelope") {
        // An envelope, rewritten in its plain form. Faults are written flat
        // (their detail is not kept) and an action name XML cannot carry
        // leaves the body empty: neither parses back.
        if (looksLikeFault(first) || std::strchr(first.action, ':') != nullptr ||
            !xmlNameWritable(first.action, nullptr, 0))
            return 0;
        check(parseText(plain, &second, &again) == 0);
        checkAction(second);
        if (looksLikeFault(second))
            return 0;
        check(again == plain);
        return 0;
    }
    // A property set (the text stays): written as one, it reads back.
    check(kind == "propertyset" && plain == input);
    std::strcpy(first.action, kPropertySetName);
    const std::string set = writeText(first);
    check(parseText(set, &second, &again) == 0);
    std::strcpy(second.action, kPropertySetName);
    check(writeText(second) == set);
    return 0;
}
