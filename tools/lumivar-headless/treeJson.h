// The device tree as one JSON document: {"roots": [node, ...]}, each node
// {"text", "kind", "entity", "image", "children": [...]}, the same nodes
// and order as DeviceTree::dump prints; with the Control Point Monitor
// running, also "activeControlPoints": the addresses that searched.
#pragma once

#include "deviceTree.h"

#include <optional>
#include <string>
#include <vector>

namespace lumivar {

// One line, no line break. Texts that devices sent and that are not UTF-8
// get U+FFFD in place of the bad bytes, so the document always parses.
[[nodiscard]] std::string treeJson(const DeviceTree &tree,
                                   const std::optional<std::vector<std::string>> &controlPoints = std::nullopt);

} // namespace lumivar
