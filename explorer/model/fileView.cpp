#include "fileView.h"

namespace lumivar {

void refreshFileView(DeviceTree &view, const DeviceRecord &record, const std::string &title,
                     const std::vector<std::string> &deviceNames)
{
    TreeNode &root = view.root(rootKindFor(record.active, record.isVirtual, record.filtered));
    TreeNode *node = view.findDevice(record.location);
    if (node != nullptr && node->parent != &root) {
        view.notify({TreeNotification::NODE_CHANGED, node->parent->id, ""});
        view.removeNode(*node);
        node = nullptr;
    }
    if (node == nullptr) {
        node = &view.appendChild(root, {title, FV_RECORD, record.entity, NI_DEVICE});
        node->key = record.location;
    }
    node->text = title;
    node->value = itemValue(FV_RECORD, record.entity);

    std::vector<WantedChild> wanted{{kFileViewLocationText, FV_LOCATION, record.entity}};
    for (const auto &name : deviceNames)
        wanted.push_back({name, FV_DEVICE, record.entity, NI_DEVICE});
    std::vector<TreeNode *> items = view.rebuildChildren(*node, wanted);
    view.rebuildChildren(*items[0], {{record.location, FV_LOCATION_URL, record.entity, NI_ITEM}});
    // Embedded devices are described by their root's document.
    for (size_t i = 1; i < items.size(); ++i)
        view.rebuildChildren(*items[i], {{record.location, FV_DEVICE_URL, record.entity, NI_ITEM}});
    root.expanded = true;
    view.notify({TreeNotification::NODE_CHANGED, root.id, ""});
}

} // namespace lumivar
