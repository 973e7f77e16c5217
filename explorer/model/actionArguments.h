// An action's arguments as the tree holds them (items with their value
// children) and as the service description defines them (direction and
// related state variable), shared by "&Execute Action" and "Set Value".
#pragma once

#include "deviceTree.h"
#include "setValueDialog.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumivar {

// An argument item (kind 11) of an action item, copied out of the tree.
struct ArgumentItem {
    uint64_t id = 0;
    uint64_t valueId = 0; // its value item (kind 12), 0 when it has none
    std::string name;
    bool hasValue = false;
    std::string value;
};

// The argument items of action, in tree order. Caller holds the tree's guard.
[[nodiscard]] std::vector<ArgumentItem> argumentItemsOf(const TreeNode &action);

// An argument as the service's SCPD defines it.
struct ActionArgument {
    std::string name;
    int32_t direction = AD_UNKNOWN;
    std::string relatedVariable; // "" when the SCPD names none
};

// The arguments of action in the service of serviceType of entity's
// description, in SCPD order; none when the stack does not know the action.
// Copying queries: no lock is needed, and none may be held that the
// server thread waits for.
[[nodiscard]] std::optional<std::vector<ActionArgument>> actionArgumentsOf(QN_ENTITY entity, const std::string &serviceType,
                                                                       const std::string &action);

// The argument named name, or null.
[[nodiscard]] const ActionArgument *argumentNamed(const std::vector<ActionArgument> &arguments, const std::string &name);

// A dialog entry for argument, typed from its related state variable (untyped
// when the variable is unknown).
[[nodiscard]] SetValueDialog::Entry typedEntry(QN_ENTITY entity, const std::string &serviceType,
                                               const ActionArgument &argument);
// Types entry from the state variable variable of the service.
void typeEntry(SetValueDialog::Entry &entry, QN_ENTITY entity, const std::string &serviceType,
               const std::string &variable);

// Makes value the only child of item, of kind valueKind (NK_ARGUMENT_VALUE
// or NK_VARIABLE_VALUE).
void setValueItem(DeviceTree &tree, TreeNode &item, NodeKind valueKind, const std::string &value);

} // namespace lumivar
