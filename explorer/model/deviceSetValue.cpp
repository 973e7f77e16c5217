// "Set Value": the dialog on an action's arguments (or on a virtual
// device's variable), and its values written into the tree on "&OK". Runs
// on the window thread: the dialog is modal, and the stack is only asked
// for copies of the description, never over the network.
#include "deviceOperations.h"

#include "actionArguments.h"

namespace lumivar {

namespace {

// Which arguments a person may give a value: in arguments on a device of
// the network (they are sent), out arguments on a virtual device (they are
// what it answers), and in-out arguments on either.
bool isEditable(int32_t direction, NodeKind rootKind)
{
    return direction == AD_INOUT || (direction == AD_IN && rootKind == NK_ACTIVE_ROOT) ||
           (direction == AD_OUT && rootKind == NK_VIRTUAL_ROOT);
}

} // namespace

void DeviceOperations::setValue(uint64_t selectedId)
{
    SelectionContext ctx = contextOf(selectedId);
    if (ctx.actionNodeId != 0)
        setActionValues(ctx);
    else if (ctx.variableNodeId != 0 && ctx.rootKind == NK_VIRTUAL_ROOT)
        setVariableValue(ctx);
    else
        prompts_.messageBox(kSelectActionFirst);
}

void DeviceOperations::setActionValues(const SelectionContext &ctx)
{
    std::vector<ArgumentItem> items;
    explorer_.readTree([&](const DeviceTree &tree) {
        if (const TreeNode *action = tree.findById(ctx.actionNodeId))
            items = argumentItemsOf(*action);
    });
    std::optional<std::vector<ActionArgument>> arguments = actionArgumentsOf(ctx.entity, ctx.service, ctx.action);
    if (!arguments) {
        prompts_.messageBox("Could not get arguments of action \"" + ctx.action + "\"!");
        return;
    }
    if (items.size() > QN_ARG_MAX_NUM) {
        prompts_.messageBox("Argument number (" + std::to_string(QN_ARG_MAX_NUM) +
                            ") exceeds limitation of Corvanta UPnP SDK!");
        return;
    }
    SetValueDialog dialog;
    dialog.title = kSetValueForArgumentTitle;
    dialog.actionName = ctx.action;
    for (const ArgumentItem &item : items) {
        const ActionArgument *argument = argumentNamed(*arguments, item.name);
        SetValueDialog::Entry entry =
            argument != nullptr ? typedEntry(ctx.entity, ctx.service, *argument) : SetValueDialog::Entry{item.name};
        entry.value = item.value;
        entry.hadValue = item.hasValue;
        entry.editable = argument != nullptr && isEditable(argument->direction, ctx.rootKind);
        if (item.id == ctx.selectedId || (item.valueId != 0 && item.valueId == ctx.selectedId))
            dialog.selected = static_cast<int>(dialog.entries.size());
        dialog.entries.push_back(std::move(entry));
    }
    if (!prompts_.editValues(dialog) || dialog.entries.size() != items.size())
        return;
    // An argument that had no value and could not be edited stays without
    // one: an out argument must not look answered.
    explorer_.editTree([&](DeviceTree &tree) {
        TreeNode *action = tree.findById(ctx.actionNodeId);
        if (action == nullptr)
            return;
        for (size_t i = 0; i < items.size(); ++i) {
            const SetValueDialog::Entry &entry = dialog.entries[i];
            TreeNode *arg = tree.findById(items[i].id);
            if (arg != nullptr && arg->parent == action && (entry.editable || entry.hadValue))
                setValueItem(tree, *arg, NK_ARGUMENT_VALUE, entry.value);
        }
        action->expanded = true;
        tree.notify({TreeNotification::NODE_CHANGED, action->id, ""});
    });
}

void DeviceOperations::setVariableValue(const SelectionContext &ctx)
{
    SetValueDialog dialog;
    dialog.title = kSetValueForVariableTitle;
    dialog.actionName = ctx.variable;
    SetValueDialog::Entry entry;
    entry.name = ctx.variable;
    entry.editable = true;
    explorer_.readTree([&](const DeviceTree &tree) {
        const TreeNode *variable = tree.findById(ctx.variableNodeId);
        if (variable != nullptr && !variable->children.empty()) {
            entry.value = variable->children.front()->text;
            entry.hadValue = true;
        }
    });
    typeEntry(entry, ctx.entity, ctx.service, ctx.variable);
    dialog.entries.push_back(std::move(entry));
    if (!prompts_.editValues(dialog) || dialog.entries.size() != 1)
        return;
    explorer_.editTree([&](DeviceTree &tree) {
        TreeNode *variable = tree.findById(ctx.variableNodeId);
        if (variable == nullptr)
            return;
        setValueItem(tree, *variable, NK_VARIABLE_VALUE, dialog.entries.front().value);
        variable->expanded = true;
        tree.notify({TreeNotification::NODE_CHANGED, variable->id, ""});
    });
}

} // namespace lumivar
