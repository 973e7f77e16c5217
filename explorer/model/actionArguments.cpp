#include "actionArguments.h"

#include "text.h"

#include <memory>

namespace lumivar {

std::vector<ArgumentItem> argumentItemsOf(const TreeNode &action)
{
    std::vector<ArgumentItem> items;
    for (const auto &c : action.children) {
        if (c->kind() != NK_ARGUMENT)
            continue;
        ArgumentItem item;
        item.id = c->id;
        item.name = c->text;
        if (!c->children.empty() && c->children.front()->kind() == NK_ARGUMENT_VALUE) {
            item.hasValue = true;
            item.valueId = c->children.front()->id;
            item.value = c->children.front()->text;
        }
        items.push_back(std::move(item));
    }
    return items;
}

std::optional<std::vector<ActionArgument>> actionArgumentsOf(QN_ENTITY entity, const std::string &serviceType,
                                                         const std::string &action)
{
    auto record = std::make_unique<QNApiAction>();
    copyBounded(record->action, sizeof record->action, action);
    if (qnGetActionArgVars(entity, serviceType.c_str(), record.get()) != QN_OK)
        return std::nullopt;
    std::vector<ActionArgument> arguments;
    for (int i = 0; i < record->argNum && i < QN_ARG_MAX_NUM; ++i)
        arguments.push_back({record->argNV[i].name, record->argDirection[i], record->argNV[i].val});
    return arguments;
}

const ActionArgument *argumentNamed(const std::vector<ActionArgument> &arguments, const std::string &name)
{
    for (const auto &s : arguments)
        if (s.name == name)
            return &s;
    return nullptr;
}

void typeEntry(SetValueDialog::Entry &entry, QN_ENTITY entity, const std::string &serviceType,
               const std::string &variable)
{
    if (variable.empty())
        return;
    auto info = std::make_unique<QNApiVarInfo>(); // 9 KiB: kept off the caller's stack
    if (qnGetVarInfo(entity, serviceType.c_str(), variable.c_str(), info.get()) == QN_OK)
        describeVariable(entry, *info);
}

SetValueDialog::Entry typedEntry(QN_ENTITY entity, const std::string &serviceType, const ActionArgument &argument)
{
    SetValueDialog::Entry entry;
    entry.name = argument.name;
    entry.direction = argument.direction;
    typeEntry(entry, entity, serviceType, argument.relatedVariable);
    return entry;
}

void setValueItem(DeviceTree &tree, TreeNode &item, NodeKind valueKind, const std::string &value)
{
    tree.rebuildChildren(item, {{value, valueKind, item.entity(), NI_ITEM}});
}

} // namespace lumivar
