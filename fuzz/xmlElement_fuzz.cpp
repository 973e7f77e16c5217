// Fuzzes the element readers: xmlSkipDecl, xmlReadElement and
// xmlReadChildren walked down every container. Offsets stay ordered and
// inside the text, pos is restored, capacities hold.
#include "fuzzSupport.h"

using namespace qnfuzz;

namespace {

int visits;

void walk(QNTextDoc *doc, uint32_t at, int depth)
{
    if (depth > kMaxXmlDepth + 2 || ++visits > 4000)
        return;
    doc->pos = at;
    XmlChild el{};
    int ret = xmlReadElementAt(doc, &el);
    check(doc->pos == at);
    if (ret != 0) {
        check(ret == -1 && (doc->state == XS_SYNTAX || doc->state == XS_END_LT || doc->state == XS_NONE));
        return;
    }
    if (doc->state != XS_ELEMENT)
        return;
    check(el.start <= el.end && el.end <= doc->len && el.start > at);
    check(el.nameStart + el.nameLen <= doc->len);
    doc->pos = el.start;
    QNNameVal leaves[4];
    int leafCount = 4;
    XmlChild kids[8];
    int childCount = 8;
    ret = xmlReadChildList(doc, leaves, &leafCount, kids, &childCount);
    check(doc->pos <= doc->len);
    if (ret != 0)
        return;
    check(leafCount >= 0 && leafCount <= 4 && childCount >= 0 && childCount <= 8);
    for (int i = 0; i < leafCount; ++i)
        checkPair(leaves[i]);
    for (int i = 0; i < childCount; ++i) {
        // Inside the text; not necessarily inside the parent: on hostile
        // text the leaf reader (which skips any text before a '<') and the
        // element reader may see different structures.
        check(kids[i].start <= kids[i].end && kids[i].end <= doc->len);
        // Back to the child's '<' (the name follows it, maybe after blanks).
        uint32_t lt = kids[i].nameStart;
        while (lt > el.start && doc->text[lt - 1] != '<')
            --lt;
        if (lt > el.start)
            walk(doc, lt - 1, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> &buf = documentOf(data, size);
    QNTextDoc doc = xmlDocKind(nullptr, nullptr);
    docInitRead(&doc, buf.data());
    if (xmlSkipDecl(&doc) != 0)
        return 0;
    const uint32_t top = doc.pos;

    // The public forms once, with their tag records.
    QNXmlTag tag{};
    uint32_t start = 0, end = 0;
    if (xmlReadElement(&doc, &tag, &start, &end) == 0 && doc.state == XS_ELEMENT) {
        check(start <= end && end <= doc.len);
        checkTerminated(tag.name, sizeof tag.name);
        doc.pos = start;
        QNXmlTag tags[4];
        uint32_t starts[4], ends[4];
        int childCount = 4, leafCount = 2;
        QNNameVal leaves[2];
        if (xmlReadChildren(&doc, leaves, &leafCount, tags, starts, ends, &childCount) == 0)
            check(childCount <= 4 && leafCount <= 2);
    }
    check(doc.pos <= doc.len);
    visits = 0;
    walk(&doc, top, 0);
    return 0;
}
