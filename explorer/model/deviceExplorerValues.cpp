// The Device Explorer's side of loaded description files: their records
// and nodes, and the values entered under them, which a running virtual
// device answers with. The mutex only: the stack is never called here.
#include "deviceExplorer.h"

#include "actionArguments.h"

namespace lumivar {

namespace {

// The first node of kind with exactly text below node, depth first in tree
// order (services before embedded devices, as the tree shows them).
const TreeNode *findBelow(const TreeNode &node, uint16_t kind, const std::string &text)
{
    for (const auto &c : node.children) {
        if (c->kind() == kind && c->text == text)
            return c.get();
        if (const TreeNode *found = findBelow(*c, kind, text))
            return found;
    }
    return nullptr;
}

std::string firstChildText(const TreeNode &item)
{
    return item.children.empty() ? std::string() : item.children.front()->text;
}

bool holdsValue(const TreeNode &node)
{
    return node.kind() == NK_ARGUMENT || node.kind() == NK_VARIABLE;
}

void collectValues(const TreeNode &node, std::vector<std::string> &path,
                   std::vector<EnteredValue> &out)
{
    for (const auto &c : node.children) {
        path.push_back(c->text);
        if (!holdsValue(*c))
            collectValues(*c, path, out);
        else if (!c->children.empty())
            out.push_back({path, static_cast<NodeKind>(c->children.front()->kind()), c->children.front()->text});
        path.pop_back();
    }
}

} // namespace

bool DeviceExplorer::hasDevice(const std::string &location) const
{
    std::lock_guard guard(mutex_);
    for (const auto &r : list_.records())
        if (r.location == location)
            return true;
    return false;
}

std::optional<DeviceRecord> DeviceExplorer::deviceOfNode(uint64_t nodeId) const
{
    std::lock_guard guard(mutex_);
    const TreeNode *node = tree_.findById(nodeId);
    while (node != nullptr && node->parent != nullptr && node->parent->parent != nullptr)
        node = node->parent;
    if (node == nullptr || node->parent == nullptr)
        return std::nullopt;
    for (const auto &r : list_.records())
        if (r.location == node->key)
            return r;
    return std::nullopt;
}

bool DeviceExplorer::hasNode(uint64_t nodeId) const
{
    std::lock_guard guard(mutex_);
    return tree_.findById(nodeId) != nullptr;
}

void DeviceExplorer::forgetDevice(const std::string &location)
{
    std::lock_guard guard(mutex_);
    for (size_t i = 0; i < list_.records().size(); ++i)
        if (list_.records()[i].location == location) {
            list_.remove(static_cast<int>(i));
            break;
        }
    for (DeviceTree *document : {&tree_, &fileView_})
        if (TreeNode *node = document->findDevice(location)) {
            document->notify({TreeNotification::NODE_CHANGED, node->parent->id, ""});
            document->removeNode(*node);
        }
}

// By the record, not by the nodes' values: a device found on the network
// and a loaded file of the same description show alike, and only the
// record tells whose node is whose.
const TreeNode *DeviceExplorer::deviceNodeOf(QN_ENTITY entity) const
{
    if (entity == QN_INVALID_DEVICE)
        return nullptr;
    for (const auto &r : list_.records())
        if (r.entity == entity)
            return tree_.findDevice(r.location);
    return nullptr;
}

std::optional<DeviceExplorer::ArgumentValues> DeviceExplorer::argumentValues(QN_ENTITY entity,
                                                                             const std::string &action) const
{
    std::lock_guard guard(mutex_);
    const TreeNode *device = deviceNodeOf(entity);
    const TreeNode *item = device != nullptr ? findBelow(*device, NK_ACTION, action) : nullptr;
    if (item == nullptr)
        return std::nullopt;
    ArgumentValues values;
    for (const auto &arg : item->children)
        if (arg->kind() == NK_ARGUMENT)
            values.emplace_back(arg->text, firstChildText(*arg));
    return values;
}

std::optional<std::string> DeviceExplorer::variableValue(QN_ENTITY entity, const std::string &variable) const
{
    std::lock_guard guard(mutex_);
    const TreeNode *device = deviceNodeOf(entity);
    const TreeNode *item = device != nullptr ? findBelow(*device, NK_VARIABLE, variable) : nullptr;
    if (item == nullptr)
        return std::nullopt;
    return firstChildText(*item);
}

bool DeviceExplorer::enterValue(uint64_t itemId, const std::string &value)
{
    std::lock_guard guard(mutex_);
    TreeNode *item = tree_.findById(itemId);
    if (item == nullptr || (item->kind() != NK_ARGUMENT && item->kind() != NK_VARIABLE))
        return false;
    setValueItem(tree_, *item, item->kind() == NK_ARGUMENT ? NK_ARGUMENT_VALUE : NK_VARIABLE_VALUE, value);
    if (item->parent != nullptr)
        item->parent->expanded = true;
    tree_.notify({TreeNotification::NODE_CHANGED, item->id, ""});
    return true;
}

std::vector<EnteredValue> DeviceExplorer::enteredValues(const TreeNode &device)
{
    std::vector<EnteredValue> values;
    std::vector<std::string> path;
    collectValues(device, path, values);
    return values;
}

void DeviceExplorer::restoreEnteredValues(TreeNode &device, const std::vector<EnteredValue> &values)
{
    for (const EnteredValue &v : values) {
        TreeNode *item = &device;
        for (size_t i = 0; i < v.path.size() && item != nullptr; ++i)
            item = item->child(v.path[i]);
        if (item != nullptr && holdsValue(*item) && item->children.empty())
            setValueItem(tree_, *item, v.kind, v.value);
    }
}

void DeviceExplorer::postDebugLine(std::string line)
{
    std::lock_guard guard(mutex_);
    debug(std::move(line));
}

} // namespace lumivar
