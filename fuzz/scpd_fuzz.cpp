// Fuzzes parseScpd: hostile SCPDs stay in bounds and leak nothing, parsing
// again into the same model (record reuse) gives the same model, and the
// written form of a parsed SCPD is stable: written, parsed and written
// again it is the same text.
#include "fuzzSupport.h"
#include "scpd.h"

using namespace qnfuzz;

namespace {

void checkScpd(const QNScpd &s)
{
    check(s.actionCount <= kMaxActions && s.varCount <= kMaxStateVars);
    for (int i = 0; i < s.actionCount; ++i) {
        check(s.actions[i] != nullptr && s.actions[i]->argCount <= QN_ARG_MAX_NUM);
        checkPair(s.actions[i]->name);
        for (int a = 0; a < s.actions[i]->argCount; ++a)
            checkPair(s.actions[i]->args[a]->relatedStateVariable);
    }
    for (int i = 0; i < s.varCount; ++i) {
        check(s.vars[i] != nullptr && s.vars[i]->sendEvents <= 1);
        if (s.vars[i]->allowed != nullptr)
            check(s.vars[i]->allowed->count <= kMaxAllowedValues && s.vars[i]->allowed->kind <= AK_RANGE);
    }
}

struct Model {
    QNScpd *scpd = newScpd();
    ~Model()
    {
        freeScpd(scpd);
        deleteScpd(scpd);
    }
};

std::string written(const QNScpd *scpd)
{
    static std::vector<char> out(kMaxDocument + 1);
    QNTextDoc doc = kScpdDocKind;
    docInitWrite(&doc, out.data(), static_cast<uint32_t>(out.size()));
    if (writeScpd(&doc, scpd) != 0)
        return {};
    return std::string(doc.text, doc.len);
}

int parseText(const std::string &text, QNScpd *scpd)
{
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    QNTextDoc doc{};
    xmlDocOpen(&doc, kScpdDocKind, buf.data(), static_cast<uint32_t>(buf.size()));
    return parseScpd(&doc, scpd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> &buf = documentOf(data, size);
    QNTextDoc doc{};
    xmlDocOpen(&doc, kScpdDocKind, buf.data(), static_cast<uint32_t>(buf.size()));
    Model model;
    int ret = parseScpd(&doc, model.scpd);
    checkScpd(*model.scpd);
    if (ret != 0)
        return 0;
    const std::string first = written(model.scpd);
    // The same text into the same model: records reused, same result.
    docInitRead(&doc, buf.data());
    check(parseScpd(&doc, model.scpd) == 0);
    check(written(model.scpd) == first);
    if (first.empty())
        return 0; // did not fit
    Model again;
    check(parseText(first, again.scpd) == 0);
    check(written(again.scpd) == first);
    return 0;
}
