#include "deviceTree.h"

#include <algorithm>
#include <functional>

namespace lumivar {

NodeKind rootKindFor(bool active, bool isVirtual, bool filtered)
{
    if (filtered)
        return NK_FILTERED_ROOT;
    if (!active)
        return NK_INACTIVE_ROOT;
    return isVirtual ? NK_VIRTUAL_ROOT : NK_ACTIVE_ROOT;
}

NodeKind propertyKindFor(std::string_view elementName)
{
    if (elementName == "SCPDURL")
        return NK_SCPD_URL;
    if (elementName == "manufacturerURL")
        return NK_MANUFACTURER_URL;
    if (elementName == "presentationURL")
        return NK_PRESENTATION_URL;
    return NK_PROPERTY;
}

TreeNode *TreeNode::child(std::string_view childText) const
{
    for (const auto &c : children)
        if (c->text == childText)
            return c.get();
    return nullptr;
}

DeviceTree::DeviceTree(TreeNotification::Document document)
    : document_(document), nextId_(document == TreeNotification::FILE_VIEW ? (uint64_t{1} << 48) : 1)
{
    const std::pair<std::string_view, NodeKind> roots[] = {
        {kActiveRootText, NK_ACTIVE_ROOT},
        {kVirtualRootText, NK_VIRTUAL_ROOT},
        {kInactiveRootText, NK_INACTIVE_ROOT},
        {kFilteredRootText, NK_FILTERED_ROOT},
    };
    for (const auto &[text, kind] : roots)
        roots_.push_back(makeNode(nullptr, {std::string(text), kind, 0, NI_FOLDER}));
}

TreeNode &DeviceTree::root(NodeKind rootKind)
{
    for (auto &r : roots_)
        if (r->kind() == rootKind)
            return *r;
    return *roots_.front();
}

const TreeNode &DeviceTree::root(NodeKind rootKind) const
{
    return const_cast<DeviceTree *>(this)->root(rootKind);
}

std::unique_ptr<TreeNode> DeviceTree::makeNode(TreeNode *parent, const WantedChild &wanted)
{
    auto node = std::make_unique<TreeNode>();
    node->id = nextId_++;
    node->text = wanted.text;
    node->value = itemValue(wanted.kind, wanted.entity);
    node->image = wanted.image;
    node->parent = parent;
    return node;
}

TreeNode &DeviceTree::appendChild(TreeNode &parent, const WantedChild &wanted)
{
    parent.children.push_back(makeNode(&parent, wanted));
    return *parent.children.back();
}

TreeNode &DeviceTree::upsertChild(TreeNode &parent, const WantedChild &wanted)
{
    TreeNode *node = parent.child(wanted.text);
    if (node == nullptr) {
        parent.children.push_back(makeNode(&parent, wanted));
        node = parent.children.back().get();
    }
    node->value = itemValue(wanted.kind, wanted.entity);
    node->image = wanted.image;
    return *node;
}

std::vector<TreeNode *> DeviceTree::rebuildChildren(TreeNode &parent, const std::vector<WantedChild> &wanted)
{
    for (auto &c : parent.children)
        if (c->kind() != NK_SUBSCRIPTION_SID)
            c->value = 0;
    std::vector<TreeNode *> nodes;
    nodes.reserve(wanted.size());
    for (const auto &w : wanted)
        nodes.push_back(&upsertChild(parent, w));
    std::erase_if(parent.children, [](const std::unique_ptr<TreeNode> &c) { return c->value == 0; });
    return nodes;
}

void DeviceTree::removeNode(TreeNode &node)
{
    if (node.parent == nullptr)
        return; // roots stay
    std::erase_if(node.parent->children, [&node](const std::unique_ptr<TreeNode> &c) { return c.get() == &node; });
}

TreeNode *DeviceTree::findDevice(std::string_view location) const
{
    for (const auto &r : roots_)
        for (const auto &c : r->children)
            if (c->key == location)
                return c.get();
    return nullptr;
}

TreeNode *DeviceTree::findById(uint64_t id) const
{
    std::function<TreeNode *(TreeNode &)> search = [&](TreeNode &n) -> TreeNode * {
        if (n.id == id)
            return &n;
        for (auto &c : n.children)
            if (TreeNode *found = search(*c))
                return found;
        return nullptr;
    };
    for (const auto &r : roots_)
        if (TreeNode *found = search(*r))
            return found;
    return nullptr;
}

TreeNode *DeviceTree::findPath(const std::vector<std::string> &texts) const
{
    if (texts.empty())
        return nullptr;
    TreeNode *node = nullptr;
    for (const auto &r : roots_)
        if (r->text == texts.front())
            node = r.get();
    for (size_t i = 1; node != nullptr && i < texts.size(); ++i)
        node = node->child(texts[i]);
    return node;
}

std::string DeviceTree::dump() const
{
    std::string out;
    std::function<void(const TreeNode &, int)> write = [&](const TreeNode &n, int depth) {
        out.append(static_cast<size_t>(depth) * 2, ' ');
        out += n.text;
        out += '\n';
        for (const auto &c : n.children)
            write(*c, depth + 1);
    };
    for (const auto &r : roots_)
        write(*r, 0);
    return out;
}

void DeviceTree::notify(TreeNotification n)
{
    n.document = document_;
    pending_.push_back(std::move(n));
}

std::vector<TreeNotification> DeviceTree::takeNotifications()
{
    std::vector<TreeNotification> out;
    out.swap(pending_);
    return out;
}

} // namespace lumivar
