// The device filters. Every rule of one judgement reads the same model:
// the server thread replaces a control point's description when its device
// announces a new one, so the whole walk runs under the model lock.
#include "filters.h"

#include "modelLock.h"

#include <arpa/inet.h>

namespace lumivar {

namespace {

constexpr char kDefaultActionName[] = "Default Action";

// The description element a type's pattern is looked for in; null for the
// types that are not matched against the description.
const char *elementOf(uint32_t type)
{
    switch (type) {
    case FT_DEVICE_TYPE: return "deviceType";
    case FT_MANUFACTURER: return "manufacturer";
    case FT_UDN: return "UDN";
    case FT_UPC: return "UPC";
    case FT_SERVICE_TYPE: return "serviceType";
    default: return nullptr;
    }
}

// qnFindDescValue follows the model's own tree over the root device, every
// embedded device and every service, and reads every field the model keeps
// of each node. Walking by type names instead (qnWalkDesc, then
// qnGetDevInfo per type) would read the first of two embedded devices that
// share a deviceType twice and never the second, so a UDN rule could miss.
// At each node only the first field of the element's name counts, and its
// value must contain the pattern; both comparisons are case-sensitive.
bool descriptionMatches(QN_ENTITY entity, const char *element, const std::string &pattern)
{
    return qnFindDescValue(entity, "", "", element, pattern.c_str(), 1, 1, 1) != nullptr;
}

// The pattern is a dotted quad; anything else never matches. The stack
// keeps 0 for a peer it has not heard from yet, which is no address.
bool addressMatches(QN_ENTITY entity, const std::string &pattern)
{
    in_addr wanted{};
    if (inet_pton(AF_INET, pattern.c_str(), &wanted) != 1)
        return false;
    uint32_t peer = 0;
    if (qnGetDevAddr(entity, &peer, nullptr) != QN_OK || peer == 0)
        return false;
    return ntohl(wanted.s_addr) == peer;
}

bool filterMatches(QN_ENTITY entity, const FilterRecord &filter)
{
    if (filter.type == FT_IP_ADDRESS)
        return addressMatches(entity, filter.pattern);
    // "XML Value" and "Common String" are kept in the settings but have no
    // rule: they never match.
    const char *element = elementOf(filter.type);
    return element != nullptr && descriptionMatches(entity, element, filter.pattern);
}

bool selected(const FilterRecord &filter, bool judgingControlPoints)
{
    return judgingControlPoints ? filter.applyToControlPoint : filter.applyToDevice;
}

} // namespace

FilterDecision isFiltered(QN_ENTITY entity, const std::vector<FilterRecord> &filters, bool defaultPass)
{
    ModelLock lock;
    QN_RET kind = qnCheckDevice(entity);
    if (kind != QN_OK && kind != QN_ERR)
        return FilterDecision{true, -1};
    // A device entity is the one that judges the control points it hears.
    bool judgingControlPoints = kind == QN_OK;
    bool passFound = false;
    for (size_t i = 0; i < filters.size(); ++i) {
        const FilterRecord &filter = filters[i];
        if (!selected(filter, judgingControlPoints) || !filterMatches(entity, filter))
            continue;
        int index = static_cast<int>(i);
        if (!filter.pass)
            return FilterDecision{true, index};
        if (filter.skip)
            return FilterDecision{false, index};
        // A pass rule without skip lets a later drop rule still decide.
        passFound = true;
    }
    return FilterDecision{!(passFound || defaultPass), static_cast<int>(filters.size())};
}

std::string filteredLogLine(const std::string &location, const std::vector<FilterRecord> &filters,
                            int decidingIndex)
{
    if (decidingIndex < 0)
        return {};
    bool byDefault = static_cast<size_t>(decidingIndex) >= filters.size();
    std::string name = byDefault ? std::string(kDefaultActionName) : filters[decidingIndex].name;
    return "Device at " + location + " filtered by filter " + name + ".\r\n";
}

} // namespace lumivar
