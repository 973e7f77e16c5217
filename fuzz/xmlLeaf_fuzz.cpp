// Fuzzes the leaf readers and the character-data decoder: every read stays
// inside the text and the pair, a decoded value of valid UTF-8 stays valid
// UTF-8 at every buffer size, and a value written by writeLeaf reads back
// unchanged.
#include "fuzzSupport.h"

using namespace qnfuzz;

namespace {

void readLeavesFrom(QNTextDoc *doc, uint32_t at)
{
    doc->pos = at;
    QNNameVal leaves[3];
    int count = 3;
    uint32_t before = doc->pos;
    int ret = xmlReadLeafList(doc, leaves, &count);
    check(doc->pos <= doc->len);
    if (ret == 0) {
        check(count >= 0 && count <= 3);
        for (int i = 0; i < count; ++i)
            checkPair(leaves[i]);
    } else {
        check(ret == -1);
    }
    doc->pos = before;
    QNNameVal one;
    std::memset(&one, 'x', sizeof one);
    ret = xmlReadLeaf(doc, &one);
    check(doc->pos <= doc->len);
    if (ret == 0 && (doc->state == XS_ELEMENT || doc->state == XS_EMPTY)) {
        check(doc->pos > before);
        checkPair(one);
    } else {
        check(doc->pos == before);
    }
}

void decodeAtEverySize(const char *text, size_t len)
{
    const bool valid = validUtf8(text, len);
    char buf[512 + 8];
    for (size_t size : {1u, 2u, 3u, 4u, 5u, 7u, 16u, 512u}) {
        std::memset(buf, '#', sizeof buf);
        size_t n = xmlDecodeText(std::string_view(text, len), buf, size);
        check(n < size && buf[n] == '\0');
        for (size_t i = size; i < sizeof buf; ++i)
            check(buf[i] == '#');
        if (valid)
            check(validUtf8(buf, n));
    }
}

void writeAndReadBack(const char *text, size_t len)
{
    QNNameVal nv{"v", ""};
    xmlDecodeText(std::string_view(text, len), nv.val, sizeof nv.val);
    static std::vector<char> out(8 * QN_VAL_MAX_LEN);
    QNTextDoc doc = xmlDocKind(nullptr, nullptr);
    docInitWrite(&doc, out.data(), static_cast<uint32_t>(out.size()));
    check(writeLeaf(&doc, &nv, 1) == 0);
    QNTextDoc in = xmlDocKind(nullptr, nullptr);
    docInitRead(&in, out.data());
    QNNameVal back{};
    check(xmlReadLeaf(&in, &back) == 0);
    check(std::strcmp(back.val, nv.val) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> &buf = documentOf(data, size);
    QNTextDoc doc = xmlDocKind(nullptr, nullptr);
    docInitRead(&doc, buf.data());
    // A read from the start and from every '<' (a bounded number of them).
    readLeavesFrom(&doc, 0);
    int starts = 0;
    for (uint32_t at = 0; at < doc.len && starts < 64; ++at)
        if (doc.text[at] == '<') {
            readLeavesFrom(&doc, at);
            readLeavesFrom(&doc, at + 1);
            ++starts;
        }
    size_t valueLen = doc.len < 2048 ? doc.len : 2048;
    decodeAtEverySize(doc.text, valueLen);
    writeAndReadBack(doc.text, valueLen);
    return 0;
}
