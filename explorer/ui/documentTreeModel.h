// A Qt item model over a tree document of the model (the device tree or the
// File View), for the views of the "Workspace" bar.
//
// The document lives under the model's mutex and changes on the stack's
// server thread, so the item model never points into it: it keeps a mirror
// of its own on the window thread. sync() copies the document while the
// reader holds the lock and then applies the differences outside it,
// matching nodes by their ids. Because the document rebuilds children in
// place (surviving nodes keep their ids), the mirror reports only real
// insertions and removals, and the views keep the expansion and selection
// of every surviving item.
#pragma once

#include "deviceTree.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace lumivarui {

class DocumentTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role { IdRole = Qt::UserRole + 1, KindRole, ExpandedRole };

    // Calls its argument with the document, under whatever lock guards it.
    using Reader = std::function<void(const std::function<void(const lumivar::DeviceTree &)> &)>;

    explicit DocumentTreeModel(Reader reader, QObject *parent = nullptr);
    ~DocumentTreeModel() override;

    // Re-reads the document and reports what changed.
    void sync();

    [[nodiscard]] uint64_t idAt(const QModelIndex &index) const;
    [[nodiscard]] uint16_t kindAt(const QModelIndex &index) const;
    [[nodiscard]] QModelIndex indexOfId(uint64_t id) const;

    [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex &child) const override;
    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // The document marked these items expanded (new ones, or ones that were
    // not marked before); a view expands them. Emitted after sync's changes.
    void expandWanted(const QList<QModelIndex> &indexes);

private:
    struct Node;
    struct Snap;

    static void snapshot(const lumivar::TreeNode &from, Snap &to);
    void syncChildren(Node &mirror, const std::vector<Snap> &target, std::vector<uint64_t> &expand);
    void removeMissing(Node &mirror, const std::vector<Snap> &target);
    void update(Node &node, const Snap &snap, std::vector<uint64_t> &expand);
    std::unique_ptr<Node> build(Node *parent, const Snap &snap, std::vector<uint64_t> &expand);
    void forget(const Node &node);
    [[nodiscard]] QModelIndex indexOf(const Node &node) const;
    [[nodiscard]] Node *nodeAt(const QModelIndex &index) const;
    [[nodiscard]] int rowOf(const Node &node) const;

    Reader reader_;
    std::unique_ptr<Node> top_; // invisible; its children are the roots
    std::unordered_map<uint64_t, Node *> byId_;
};

} // namespace lumivarui
