// The device tree document: what the "Device Explorer" page shows, as plain
// nodes that any view can mirror. Four roots hold the device nodes; each
// explored device is expanded into its properties, services, actions,
// arguments, state variables and embedded devices.
//
// Child lists are rebuilt in place by text: a refresh keeps every node whose
// text is still wanted (and with it whatever a view keeps for it, such as
// expansion and selection), appends the new ones and deletes the rest. A
// view finds nodes again by their id, which never changes while the node
// lives.
//
// Not thread-safe by itself: DeviceExplorer owns the document and guards it
// with its mutex. Changes are recorded as notifications that the window
// thread takes and applies on its own thread.
#pragma once

#include "qnSdkApi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumivar {

// Node kinds: the high 16 bits of every item value.
enum NodeKind : uint16_t {
    NK_ACTIVE_ROOT = 1,
    NK_VIRTUAL_ROOT = 2,
    NK_INACTIVE_ROOT = 3,
    NK_FILTERED_ROOT = 4,
    NK_DEV_LIST = 5,
    NK_DEVICE = 6,
    NK_SERVICE_LIST = 7,
    NK_SERVICE = 8,
    NK_ACTIONS = 9,
    NK_ACTION = 10,
    NK_ARGUMENT = 11,
    NK_ARGUMENT_VALUE = 12, // an argument's value: the first child of its item
    NK_VARIABLES = 13,
    NK_VARIABLE = 14,
    NK_VARIABLE_VALUE = 15, // a variable's value: the first child of its item
    NK_LOCATION = 16,
    NK_LOCATION_URL = 17,
    NK_PROPERTIES = 18,
    NK_PROPERTY = 19,         // value beneath: NK_PROPERTY + 1
    NK_MANUFACTURER_URL = 21, // value beneath: 22
    NK_PRESENTATION_URL = 23, // value beneath: 24
    NK_SCPD_URL = 27,         // value beneath: 28
    NK_SUBSCRIPTION = 31,
    NK_SUBSCRIPTION_SID = 32,
};

// Images of nodes; a view maps them to icons.
enum NodeImage : int {
    NI_FOLDER = 0,
    NI_DEVICE = 1,
    NI_ARG_IN = 2,
    NI_ARG_OUT = 3,
    NI_ITEM = 4,
};

inline constexpr std::string_view kActiveRootText = "Active Devices";
inline constexpr std::string_view kVirtualRootText = "Virtual Devices";
inline constexpr std::string_view kInactiveRootText = "Inactive Devices";
inline constexpr std::string_view kFilteredRootText = "Filtered Devices";

// kind in the high 16 bits, the entity handle (or 0) in the low 16 bits.
// QN_INVALID_CONTROL_POINT (256) fits the low half.
[[nodiscard]] constexpr uint32_t itemValue(uint16_t kind, QN_ENTITY entity)
{
    return (static_cast<uint32_t>(kind) << 16) | (static_cast<uint32_t>(entity) & 0xffffu);
}
[[nodiscard]] constexpr uint16_t kindOfValue(uint32_t value) { return static_cast<uint16_t>(value >> 16); }
[[nodiscard]] constexpr QN_ENTITY entityOfValue(uint32_t value) { return static_cast<QN_ENTITY>(value & 0xffffu); }

// The root a device node hangs under: "Filtered Devices" for a filtered
// device whatever its other flags, else "Active Devices" (active, not
// virtual), "Virtual Devices" (active, virtual) or "Inactive Devices".
[[nodiscard]] NodeKind rootKindFor(bool active, bool isVirtual, bool filtered);
// The property kind of a description element name: NK_SCPD_URL,
// NK_MANUFACTURER_URL, NK_PRESENTATION_URL or NK_PROPERTY.
[[nodiscard]] NodeKind propertyKindFor(std::string_view elementName);

struct TreeNode {
    uint64_t id = 0; // unique in the document, never reused
    std::string text;
    std::string key;  // device nodes: the device's location, to find it whatever its title
    uint32_t value = 0; // itemValue(kind, entity); 0 only during a rebuild
    int image = NI_FOLDER;
    bool expanded = false;
    TreeNode *parent = nullptr;
    std::vector<std::unique_ptr<TreeNode>> children;

    [[nodiscard]] uint16_t kind() const { return kindOfValue(value); }
    [[nodiscard]] QN_ENTITY entity() const { return entityOfValue(value); }
    // The child with exactly this text (case-sensitive), or null.
    [[nodiscard]] TreeNode *child(std::string_view childText) const;
};

// One child a rebuild wants.
struct WantedChild {
    std::string text;
    uint16_t kind;
    QN_ENTITY entity;
    int image = NI_FOLDER;
};

// What changed, for the window thread. Handlers on the server thread never
// wait for a person: a message for one is queued here (MESSAGE_BOX) and the
// window shows it when it takes the notifications.
struct TreeNotification {
    enum Type { NODE_CHANGED, LOG_LINE, DEBUG_LINE, EVENT_STORED, MESSAGE_BOX };
    // The device tree ("Device Explorer" page), the "File View" tree or the
    // Control Point Monitor's "Active Control Points" list.
    enum Document { DEVICE_TREE, FILE_VIEW, MONITOR };
    Type type;
    uint64_t nodeId = 0; // NODE_CHANGED: the node whose subtree changed (0: the whole document)
    std::string text;    // LOG_LINE, DEBUG_LINE: the line, "\r\n" included; MESSAGE_BOX: the message
    QN_ENTITY entity = QN_INVALID_CONTROL_POINT; // EVENT_STORED: the device control point whose
                                                 // values arrived (the Event window is refilled for it)
    Document document = DEVICE_TREE;
};

class DeviceTree {
public:
    // Node ids of the two documents never meet, so a view that mirrors both
    // may keep them in one map.
    explicit DeviceTree(TreeNotification::Document document = TreeNotification::DEVICE_TREE);

    // The four roots, in the order shown.
    [[nodiscard]] TreeNode &root(NodeKind rootKind);
    [[nodiscard]] const TreeNode &root(NodeKind rootKind) const;
    [[nodiscard]] const std::vector<std::unique_ptr<TreeNode>> &roots() const { return roots_; }

    // The children of parent become exactly wanted, in wanted's order of
    // first appearance for new nodes: every child's value is set to 0
    // (subscription SID items keep theirs, so that they survive), each
    // wanted text is looked up and appended only when missing, and gets its
    // value and image; children still at 0 are deleted. Returns the node of
    // each wanted entry (entries with one text share one node).
    std::vector<TreeNode *> rebuildChildren(TreeNode &parent, const std::vector<WantedChild> &wanted);
    // Appends a child even when one with this text exists (device nodes,
    // which are told apart by their key).
    TreeNode &appendChild(TreeNode &parent, const WantedChild &wanted);
    // Appends a child unless one with this text exists; returns it either way.
    TreeNode &upsertChild(TreeNode &parent, const WantedChild &wanted);
    void removeNode(TreeNode &node);

    // The device node whose key is location under any root, or null.
    [[nodiscard]] TreeNode *findDevice(std::string_view location) const;
    [[nodiscard]] TreeNode *findById(uint64_t id) const;
    // Follows texts from the roots; null when a step is missing.
    [[nodiscard]] TreeNode *findPath(const std::vector<std::string> &texts) const;

    // Indented text: one line per node, two blanks per level.
    [[nodiscard]] std::string dump() const;

    // Stamps the notification with this document.
    void notify(TreeNotification n);
    [[nodiscard]] std::vector<TreeNotification> takeNotifications();

private:
    std::unique_ptr<TreeNode> makeNode(TreeNode *parent, const WantedChild &wanted);

    TreeNotification::Document document_;
    std::vector<std::unique_ptr<TreeNode>> roots_;
    uint64_t nextId_;
    std::vector<TreeNotification> pending_;
};

} // namespace lumivar
