// The device filters: whether a device seen through an entity of the stack
// is explored or dropped, judged by the ordered rules of the "Filter"
// section and the default action.
#pragma once

#include "filterRecord.h"
#include "qnSdkApi.h"

#include <string>
#include <vector>

namespace lumivar {

// decidingIndex is the index of the filter that decided, filters.size()
// when the default action decided, or -1 when nothing was judged (an
// entity the stack does not know, which counts as dropped).
struct FilterDecision {
    bool dropped = true;
    int decidingIndex = -1;
};

// Judges the description and peer address of entity against filters.
// A device entity judges control points and uses the rules marked
// applyToControlPoint; any other entity is a control point judging a
// device and uses those marked applyToDevice. Takes the stack's model lock
// for the whole judgement, so it may be called from any thread and from
// inside a message handler.
[[nodiscard]] FilterDecision isFiltered(QN_ENTITY entity, const std::vector<FilterRecord> &filters,
                                        bool defaultPass);

// The log line of a dropped device: "Device at <location> filtered by
// filter <name>.\r\n", naming "Default Action" when decidingIndex is past
// the end of filters. Empty for a decision without a deciding index.
[[nodiscard]] std::string filteredLogLine(const std::string &location, const std::vector<FilterRecord> &filters,
                                          int decidingIndex);

} // namespace lumivar
