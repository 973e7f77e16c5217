// What a person does to a device in the tree: search the network again,
// invoke an action with the argument values entered into the tree, query a
// state variable, subscribe to or unsubscribe from a service, and enter
// argument values. Each operation reads its target from the tree, calls
// the stack through the device's control point, writes what came back into
// the tree and answers with the rows for the Information window.
//
// Threads: discover, executeAction, queryVariable and subscribe wait on the
// network, so the window runs them on a worker thread, never on its own
// thread and never on the stack's server thread. They follow the explorer's
// lock order: the tree is read under the explorer's mutex, which is
// released before the stack is called; the answer is written back under it
// afterwards (the item may be gone by then, and is then left alone).
// showSubscription and setValue touch no network; setValue opens the modal
// dialog and so runs on the window thread.
//
// An empty InfoRows (no columns) means there is nothing to show: a message
// box stopped the operation before any request was made (subscribe and
// showSubscription clear the Information window even then).
#pragma once

#include "deviceExplorer.h"
#include "infoRows.h"
#include "selectionContext.h"
#include "userPrompts.h"

#include <cstdint>
#include <string>

namespace lumivar {

// Texts of the operations' message boxes.
inline constexpr char kSelectActionFirst[] = "Please select an action first!";
inline constexpr char kSelectVariableFirst[] = "Please select a variable first!";
inline constexpr char kSelectServiceFirst[] = "Could not subscribe all services, please select a service first!";
inline constexpr char kSelectDeviceOrServiceFirst[] = "Please select a device or service first!";

// The search and subscription values the operations hand to the stack.
inline constexpr uint16_t kSearchValue = 1800;
inline constexpr int32_t kSubscriptionTimeout = 1800;
inline constexpr char kEventCallbackPath[] = "/eventCB";

class DeviceOperations {
public:
    // Both must outlive the operations.
    DeviceOperations(DeviceExplorer &explorer, UserPrompts &prompts);

    // "Discover": a search for all kinds of devices through the selected
    // device's control point, or the main one.
    InfoRows discover(uint64_t selectedId);
    // "&Execute Action": the selected action with the in-argument values of
    // the tree; the out values are written back into it.
    InfoRows executeAction(uint64_t selectedId);
    // "&Query Variable": the selected variable's value replaces its value item.
    InfoRows queryVariable(uint64_t selectedId);
    // "Subscribe" (on) and "Unsubscribe": the selected service's
    // subscription and its SID item.
    InfoRows subscribe(uint64_t selectedId, bool on);
    // "Show Subcriptoins": the SID the tree holds, without network traffic.
    InfoRows showSubscription(uint64_t selectedId);
    // "Set Value": the dialog on the selected action (or on a virtual
    // device's variable); "&OK" writes the values into the tree.
    void setValue(uint64_t selectedId);

private:
    [[nodiscard]] SelectionContext contextOf(uint64_t selectedId) const;
    bool stopWithoutService(const SelectionContext &ctx);
    void setActionValues(const SelectionContext &ctx);
    void setVariableValue(const SelectionContext &ctx);

    DeviceExplorer &explorer_;
    UserPrompts &prompts_;
};

} // namespace lumivar
