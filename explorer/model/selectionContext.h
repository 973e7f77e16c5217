// What a device command works on, worked out from the selected tree item:
// the device node above it (the one hanging under a root), the root it
// hangs under, the device's control point, and the nearest service, action
// and variable items on the way up, whose texts are the names handed to
// the stack.
#pragma once

#include "deviceTree.h"

#include <cstdint>
#include <string>

namespace lumivar {

struct SelectionContext {
    uint64_t selectedId = 0;      // 0: nothing selected (or the item is gone)
    uint64_t deviceNodeId = 0;    // 0: none (nothing selected, or a root)
    uint64_t serviceNodeId = 0;   // nearest NK_SERVICE at or above the selection, 0 none
    uint64_t actionNodeId = 0;    // nearest NK_ACTION
    uint64_t variableNodeId = 0;  // nearest NK_VARIABLE
    uint16_t selectedKind = 0;    // kind of the selected item; a root's kind when a root is selected
    NodeKind rootKind = static_cast<NodeKind>(0); // the root above the device node; 0 none
    QN_ENTITY entity = QN_INVALID_CONTROL_POINT;  // low half of the device node's value
    std::string service, action, variable;        // texts of those items
    std::string location;                         // the device node's key (its description URL)

    [[nodiscard]] bool deviceSelected() const { return deviceNodeId != 0 && selectedId == deviceNodeId; }
};

// The context of selectedId in tree; an empty context when the id is 0 or
// no longer in the tree. Caller holds whatever guards tree.
[[nodiscard]] SelectionContext selectionContextOf(const DeviceTree &tree, uint64_t selectedId);

} // namespace lumivar
