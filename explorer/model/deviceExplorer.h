// The Device Explorer: the main control point that hears every device of
// the network, the filters' verdict on each, a control point bound to every
// device that passes, and the device list and tree that show them.
//
// Threads and the one lock order
// ------------------------------
// The stack calls the handlers on its server thread, holding its own lock
// (the lock of qnLockModel). The handlers then take this object's mutex.
// So the order is always:
//
//     1. the stack's lock (qnLockModel)   2. DeviceExplorer's mutex
//
// - Handler side (server thread): already holds 1, takes 2, and may call the
//   stack freely (the stack's lock is recursive). It never waits for the
//   window thread: what changed is queued as notifications.
// - Window side: takeNotifications, readTree, readFileView, devices and changeFilters take
//   only 2 and never call the stack. A window thread that wants to call the
//   stack and read the tree in one go takes qnLockModel BEFORE any of these,
//   never while inside readTree's callback.
// - startExplorer calls the stack without holding 2.
// - Nothing that waits on the network (qnCPSoapAction, qnCPSubscribe, ...)
//   is ever called while 2 is held. The device operations run on a worker
//   thread: they read what they need under 2 (readTree), release it, call
//   the stack, and write the answer back under 2 (editTree).
// - The event value table has a lock of its own, taken last and never
//   held while anything else is taken or the stack is called.
//
// The stack's handlers carry no user pointer, so one DeviceExplorer at a
// time receives them: the most recently constructed one.
#pragma once

#include "deviceList.h"
#include "deviceTree.h"
#include "eventTable.h"
#include "filters.h"
#include "settings.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lumivar {

// The lists the tree asks the stack for are this large, far beyond what
// the stack's model keeps per device or service, so the tree shows all of it.
inline constexpr int32_t kTreeListCapacity = 256;
// Embedded devices deeper than this are not expanded (a description whose
// device repeats an ancestor's type would otherwise never end).
inline constexpr int kMaxDeviceDepth = 8;

// A value entered under an argument or a variable of a device node, by the
// texts of the path from the device node to its item.
struct EnteredValue {
    std::vector<std::string> path;
    NodeKind kind; // NK_ARGUMENT_VALUE or NK_VARIABLE_VALUE
    std::string value;
};

class DeviceExplorer {
public:
    // settings must outlive the explorer; its filters, defaultPass and
    // filterTime are read by the handlers under the mutex, so change them
    // through changeFilters once the explorer runs.
    explicit DeviceExplorer(AppSettings &settings);
    ~DeviceExplorer();
    DeviceExplorer(const DeviceExplorer &) = delete;
    DeviceExplorer &operator=(const DeviceExplorer &) = delete;

    // The address the control points listen on; empty (the default) is the
    // host's address. Set before startExplorer.
    void setBindAddress(std::string address) { bindAddress_ = std::move(address); }

    // Starts or stops the main control point; the first start adds it and
    // runs the stack (qnSdkRun). False when it could not be added.
    bool startExplorer(bool on);
    [[nodiscard]] QN_CONTROL_POINT mainControlPoint() const;
    [[nodiscard]] bool running() const;

    // The stack's handlers: the main control point's and the device control
    // points'. MT_CP_ALIVE is handled by both, MT_CP_EVENT by the device
    // control points' (values into the tree and the event value table);
    // everything else is answered with 0.
    static QN_RET onDeviceFound(QN_ENTITY entity, int32_t type, QN_COOKIE cookie, void *arg);
    static QN_RET onDeviceUpdated(QN_ENTITY entity, int32_t type, QN_COOKIE cookie, void *arg);

    // Adds the control point bound to location (asked of owner when empty)
    // unless dropped, and fills and stores record. Takes both locks in order.
    bool addDeviceControlPoint(QN_CONTROL_POINT owner, const std::string &location, bool dropped,
                               DeviceRecord &record);
    // Places or moves the device's node, rebuilds its children from the
    // stack's model and stores record. Takes both locks in order.
    void refreshDevice(DeviceRecord &record);

    // Window side: the mutex only.
    // Replaces the filters and stamps filterTime, so that each shown device
    // is judged again at its next announcement.
    void changeFilters(std::vector<FilterRecord> filters, bool defaultPass);
    [[nodiscard]] std::vector<TreeNotification> takeNotifications();
    void readTree(const std::function<void(const DeviceTree &)> &reader) const;
    // The "File View" tree; its notifications come with the device tree's.
    void readFileView(const std::function<void(const DeviceTree &)> &reader) const;
    [[nodiscard]] std::vector<DeviceRecord> devices() const;
    [[nodiscard]] std::string dumpTree() const;

    // Loaded description files and the virtual devices they become
    // (VirtualDevices). storeDevice takes both locks in order; the others
    // take the mutex only and never call the stack, so a handler (which
    // holds the stack's lock) and a window thread that took the stack's lock
    // first may call them alike.
    //
    // Stores record, with the stack's name for its entity when it has none,
    // and places its node as refreshDevice does.
    void storeDevice(DeviceRecord &record);
    [[nodiscard]] bool hasDevice(const std::string &location) const;
    // The record of the device node on nodeId's path (the node itself or its
    // ancestor that hangs under a root); nothing for a root or an unknown id.
    [[nodiscard]] std::optional<DeviceRecord> deviceOfNode(uint64_t nodeId) const;
    [[nodiscard]] bool hasNode(uint64_t nodeId) const;
    // Drops the record of location and its device node.
    void forgetDevice(const std::string &location);
    // What was entered in the node of the device whose entity is entity: the
    // argument items of its first action item named action, in tree order,
    // as (argument, value of its first child, "" without one); nothing when
    // there is no such action item.
    using ArgumentValues = std::vector<std::pair<std::string, std::string>>;
    [[nodiscard]] std::optional<ArgumentValues> argumentValues(QN_ENTITY entity, const std::string &action) const;
    // The text of the first child of its first variable item named variable
    // ("" without one); nothing when there is no such item.
    [[nodiscard]] std::optional<std::string> variableValue(QN_ENTITY entity, const std::string &variable) const;
    // value becomes the only child of an argument item (kind 12) or of a
    // variable item (kind 15). False for any other node.
    bool enterValue(uint64_t itemId, const std::string &value);
    void postDebugLine(std::string line);

    // Changes the tree under the mutex only: the editor must not call the
    // stack. It queues NODE_CHANGED for what it changed.
    void editTree(const std::function<void(DeviceTree &)> &editor);

    // The last value of every evented variable, for the Event window.
    [[nodiscard]] EventTable &eventTable() { return events_; }
    [[nodiscard]] const EventTable &eventTable() const { return events_; }

    // A subscription of the service item serviceNodeId is being made: events
    // of entity whose SID no service item shows yet (the initial event
    // comes before the answer that names the SID) belong to that service.
    void expectEvents(QN_ENTITY entity, uint64_t serviceNodeId, bool expecting);

private:
    QN_RET deviceFound(QN_ENTITY cp, const std::string &location);
    QN_RET deviceUpdated(QN_ENTITY cp, const std::string &location);
    DeviceRecord recordAt(int index);
    [[nodiscard]] const TreeNode *deviceNodeOf(QN_ENTITY entity) const;
    bool addControlPointLocked(QN_CONTROL_POINT owner, const std::string &location, bool dropped,
                               DeviceRecord &record);
    void refreshLocked(DeviceRecord &record);
    void buildDevice(TreeNode &node, QN_ENTITY entity, const std::string &deviceType, const std::string &location,
                     int depth);
    void buildService(TreeNode &node, QN_ENTITY entity, const std::string &serviceType);
    void buildProperties(TreeNode &node, QN_ENTITY entity, const std::vector<std::pair<std::string, std::string>> &fields);
    void showKnownValue(TreeNode &variable, QN_ENTITY entity);
    // The values entered under a device node's arguments and variables:
    // they go with the device when its node is made anew under another root.
    [[nodiscard]] static std::vector<EnteredValue> enteredValues(const TreeNode &device);
    // Puts the values back on the items that have none after a rebuild.
    void restoreEnteredValues(TreeNode &device, const std::vector<EnteredValue> &values);
    QN_RET eventReceived(QN_ENTITY cp, const QNApiEvent &event);
    TreeNode *serviceOfEvent(TreeNode &device, QN_ENTITY cp, const std::string &sid);
    void log(std::string line) { tree_.notify({TreeNotification::LOG_LINE, 0, std::move(line)}); }
    void debug(std::string line) { tree_.notify({TreeNotification::DEBUG_LINE, 0, std::move(line)}); }

    AppSettings &settings_;
    std::string bindAddress_;
    mutable std::recursive_mutex mutex_; // second in the lock order
    QN_CONTROL_POINT mainCp_ = QN_INVALID_CONTROL_POINT;
    bool running_ = false;
    bool stackRun_ = false;
    DeviceList list_;
    DeviceTree tree_;
    DeviceTree fileView_{TreeNotification::FILE_VIEW};
    EventTable events_;
    struct ExpectedEvents {
        QN_ENTITY entity;
        uint64_t serviceNodeId;
    };
    std::vector<ExpectedEvents> expected_; // under mutex_
};

} // namespace lumivar
