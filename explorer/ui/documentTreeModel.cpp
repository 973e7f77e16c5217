#include "documentTreeModel.h"

#include "nodeIcons.h"

#include <algorithm>
#include <unordered_set>

namespace lumivarui {

struct DocumentTreeModel::Node {
    uint64_t id = 0;
    QString text;
    uint32_t value = 0;
    int image = 0;
    bool expanded = false;
    Node *parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
};

struct DocumentTreeModel::Snap {
    uint64_t id = 0;
    std::string text;
    uint32_t value = 0;
    int image = 0;
    bool expanded = false;
    std::vector<Snap> children;
};

DocumentTreeModel::DocumentTreeModel(Reader reader, QObject *parent)
    : QAbstractItemModel(parent), reader_(std::move(reader)), top_(std::make_unique<Node>())
{
    sync();
}

DocumentTreeModel::~DocumentTreeModel() = default;

void DocumentTreeModel::snapshot(const lumivar::TreeNode &from, Snap &to)
{
    to.id = from.id;
    to.text = from.text;
    to.value = from.value;
    to.image = from.image;
    to.expanded = from.expanded;
    to.children.resize(from.children.size());
    for (size_t i = 0; i < from.children.size(); ++i)
        snapshot(*from.children[i], to.children[i]);
}

void DocumentTreeModel::sync()
{
    // Copy under the document's lock; compare and report without it, so the
    // server thread waits no longer than the copy takes.
    if (!reader_)
        return;
    std::vector<Snap> roots;
    reader_([&](const lumivar::DeviceTree &tree) {
        roots.resize(tree.roots().size());
        for (size_t i = 0; i < roots.size(); ++i)
            snapshot(*tree.roots()[i], roots[i]);
    });
    std::vector<uint64_t> expand;
    syncChildren(*top_, roots, expand);
    QList<QModelIndex> indexes;
    for (uint64_t id : expand)
        if (QModelIndex at = indexOfId(id); at.isValid())
            indexes.append(at);
    if (!indexes.isEmpty())
        emit expandWanted(indexes);
}

void DocumentTreeModel::removeMissing(Node &mirror, const std::vector<Snap> &target)
{
    std::unordered_set<uint64_t> wanted;
    for (const Snap &s : target)
        wanted.insert(s.id);
    QModelIndex at = indexOf(mirror);
    // From the end, one contiguous run at a time, so rows stay valid.
    int row = static_cast<int>(mirror.children.size()) - 1;
    while (row >= 0) {
        if (wanted.count(mirror.children[static_cast<size_t>(row)]->id) != 0) {
            --row;
            continue;
        }
        int last = row;
        while (row > 0 && wanted.count(mirror.children[static_cast<size_t>(row - 1)]->id) == 0)
            --row;
        beginRemoveRows(at, row, last);
        for (int r = row; r <= last; ++r)
            forget(*mirror.children[static_cast<size_t>(r)]);
        mirror.children.erase(mirror.children.begin() + row, mirror.children.begin() + last + 1);
        endRemoveRows();
        --row;
    }
}

void DocumentTreeModel::syncChildren(Node &mirror, const std::vector<Snap> &target, std::vector<uint64_t> &expand)
{
    removeMissing(mirror, target);
    QModelIndex at = indexOf(mirror);
    size_t i = 0;
    while (i < target.size()) {
        auto &kids = mirror.children;
        if (i < kids.size() && kids[i]->id == target[i].id) {
            update(*kids[i], target[i], expand);
            syncChildren(*kids[i], target[i].children, expand);
            ++i;
            continue;
        }
        auto found = std::find_if(kids.begin() + static_cast<long>(std::min(i, kids.size())), kids.end(),
                                  [&](const std::unique_ptr<Node> &n) { return n->id == target[i].id; });
        if (found != kids.end()) {
            int from = static_cast<int>(found - kids.begin());
            beginMoveRows(at, from, from, at, static_cast<int>(i));
            std::unique_ptr<Node> moving = std::move(*found);
            kids.erase(found);
            kids.insert(kids.begin() + static_cast<long>(i), std::move(moving));
            endMoveRows();
            continue; // handled as a match on the next turn
        }
        // A run of new nodes goes in with one insertion.
        size_t end = i;
        while (end < target.size() && byId_.count(target[end].id) == 0)
            ++end;
        if (end == i)
            end = i + 1; // an id known elsewhere in the tree: moved across parents, take it as new
        beginInsertRows(at, static_cast<int>(i), static_cast<int>(end - 1));
        for (size_t k = i; k < end; ++k) {
            if (auto old = byId_.find(target[k].id); old != byId_.end())
                byId_.erase(old); // the stale copy elsewhere is removed by its own parent's sync
            kids.insert(kids.begin() + static_cast<long>(k), build(&mirror, target[k], expand));
        }
        endInsertRows();
        i = end;
    }
}

void DocumentTreeModel::update(Node &node, const Snap &snap, std::vector<uint64_t> &expand)
{
    QString text = QString::fromStdString(snap.text);
    bool changed = node.text != text || node.value != snap.value || node.image != snap.image;
    if (snap.expanded && !node.expanded)
        expand.push_back(node.id);
    node.expanded = snap.expanded;
    if (!changed)
        return;
    node.text = text;
    node.value = snap.value;
    node.image = snap.image;
    QModelIndex at = indexOf(node);
    emit dataChanged(at, at);
}

std::unique_ptr<DocumentTreeModel::Node> DocumentTreeModel::build(Node *parent, const Snap &snap,
                                                                   std::vector<uint64_t> &expand)
{
    auto node = std::make_unique<Node>();
    node->id = snap.id;
    node->text = QString::fromStdString(snap.text);
    node->value = snap.value;
    node->image = snap.image;
    node->expanded = snap.expanded;
    node->parent = parent;
    byId_[node->id] = node.get();
    if (snap.expanded)
        expand.push_back(snap.id);
    for (const Snap &c : snap.children)
        node->children.push_back(build(node.get(), c, expand));
    return node;
}

void DocumentTreeModel::forget(const Node &node)
{
    auto it = byId_.find(node.id);
    if (it != byId_.end() && it->second == &node)
        byId_.erase(it);
    for (const auto &c : node.children)
        forget(*c);
}

int DocumentTreeModel::rowOf(const Node &node) const
{
    const auto &siblings = node.parent->children;
    auto it = std::find_if(siblings.begin(), siblings.end(),
                           [&](const std::unique_ptr<Node> &n) { return n.get() == &node; });
    return static_cast<int>(it - siblings.begin());
}

QModelIndex DocumentTreeModel::indexOf(const Node &node) const
{
    if (&node == top_.get() || node.parent == nullptr)
        return {};
    return createIndex(rowOf(node), 0, const_cast<Node *>(&node));
}

DocumentTreeModel::Node *DocumentTreeModel::nodeAt(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Node *>(index.internalPointer()) : top_.get();
}

uint64_t DocumentTreeModel::idAt(const QModelIndex &index) const
{
    return index.isValid() ? nodeAt(index)->id : 0;
}

uint16_t DocumentTreeModel::kindAt(const QModelIndex &index) const
{
    return index.isValid() ? lumivar::kindOfValue(nodeAt(index)->value) : 0;
}

QModelIndex DocumentTreeModel::indexOfId(uint64_t id) const
{
    auto it = byId_.find(id);
    return it != byId_.end() ? indexOf(*it->second) : QModelIndex();
}

QModelIndex DocumentTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0 || (parent.isValid() && parent.column() != 0))
        return {};
    Node *p = nodeAt(parent);
    if (static_cast<size_t>(row) >= p->children.size())
        return {};
    return createIndex(row, 0, p->children[static_cast<size_t>(row)].get());
}

QModelIndex DocumentTreeModel::parent(const QModelIndex &child) const
{
    if (!child.isValid())
        return {};
    Node *p = nodeAt(child)->parent;
    return p == nullptr ? QModelIndex() : indexOf(*p);
}

int DocumentTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return static_cast<int>(nodeAt(parent)->children.size());
}

int DocumentTreeModel::columnCount(const QModelIndex &) const { return 1; }

QVariant DocumentTreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const Node *n = nodeAt(index);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return n->text;
    case Qt::DecorationRole:
        return nodeIcon(n->image, lumivar::kindOfValue(n->value));
    case IdRole:
        return QVariant::fromValue<qulonglong>(n->id);
    case KindRole:
        return static_cast<int>(lumivar::kindOfValue(n->value));
    case ExpandedRole:
        return n->expanded;
    default:
        return {};
    }
}

Qt::ItemFlags DocumentTreeModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace lumivarui
