// The model objects the window drives, owned by the application and alive
// for the window's whole life. The window never owns or creates model
// logic; a test may leave the operation objects out (null) and hand in a
// tree document of its own through the readers.
#pragma once

#include "deviceTree.h"
#include "documentTreeModel.h"
#include "notificationPump.h"

#include <string>

namespace lumivar {
class ControlPointMonitor;
class DeviceExplorer;
class DeviceOperations;
class VirtualDevices;
} // namespace lumivar

namespace lumivarui {

struct ExplorerLinks {
    // The device tree and File View documents, read under the model's lock.
    DocumentTreeModel::Reader readTree;
    DocumentTreeModel::Reader readFileView;
    // The notification queues: the explorer's (trees, output lines, events,
    // messages) and the Control Point Monitor's.
    NotificationPump::Source explorerNotifications;
    NotificationPump::Source monitorNotifications;

    lumivar::DeviceExplorer *explorer = nullptr;
    lumivar::DeviceOperations *operations = nullptr;
    lumivar::VirtualDevices *virtualDevices = nullptr;
    lumivar::ControlPointMonitor *monitor = nullptr;

    // The profile that keeps the bars' layout ("Zentrova.ini"); "" keeps none.
    std::string profilePath;
};

} // namespace lumivarui
