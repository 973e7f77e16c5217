// Fuzzes parseDesc: hostile descriptions never read or write out of bounds
// or leak, and a description that parses has a normalised form that parses
// again and is written back byte for byte (write, parse, compare).
#include "desc.h"
#include "fuzzSupport.h"

#include <memory>

using namespace qnfuzz;

namespace {

void checkDevice(const QNDevDesc &dev)
{
    check(dev.fieldCount <= kMaxFields && dev.serviceCount <= kMaxServices && dev.deviceCount <= kMaxEmbeddedDevices);
    for (int i = 0; i < dev.fieldCount; ++i)
        checkPair(dev.fields[i]);
    for (int i = 0; i < dev.serviceCount; ++i) {
        check(dev.services[i] != nullptr && dev.services[i]->fieldCount <= kMaxFields);
        for (int f = 0; f < dev.services[i]->fieldCount; ++f)
            checkPair(dev.services[i]->fields[f]);
    }
    for (int i = 0; i < dev.deviceCount; ++i) {
        check(dev.devices[i] != nullptr);
        checkDevice(*dev.devices[i]);
    }
}

struct Root {
    std::unique_ptr<QNRootDesc> desc{new QNRootDesc()};
    ~Root() { freeDesc(desc.get()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char> &buf = documentOf(data, size);
    QNTextDoc doc{};
    xmlDocOpen(&doc, kDescDocKind, buf.data(), static_cast<uint32_t>(buf.size()));
    Root first;
    if (parseDesc(&doc, first.desc.get()) != 0)
        return 0;
    checkDevice(first.desc->device);
    const std::string normalised(doc.text, doc.len);
    if (normalised.size() + 1 >= buf.size())
        return 0; // cut: nothing to compare

    std::vector<char> again(normalised.begin(), normalised.end());
    again.resize(kMaxDocument + 1, '\0');
    QNTextDoc second{};
    xmlDocOpen(&second, kDescDocKind, again.data(), static_cast<uint32_t>(again.size()));
    Root reparsed;
    check(parseDesc(&second, reparsed.desc.get()) == 0);
    check(std::string(second.text, second.len) == normalised);
    return 0;
}
