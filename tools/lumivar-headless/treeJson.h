// The device tree as one JSON document: {"roots": [node, ...]}, each node
// {"text", "kind", "entity", "image", "children": [...]}, the same nodes
// and order as DeviceTree::dump prints.
#pragma once

#include "deviceTree.h"

#include <string>

namespace lumivar {

// One line, no line break. Texts that devices sent and that are not UTF-8
// get U+FFFD in place of the bad bytes, so the document always parses.
[[nodiscard]] std::string treeJson(const DeviceTree &tree);

} // namespace lumivar
