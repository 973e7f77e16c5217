// The "File View" tree: every device record under the root its flags
// select, like the device tree, but showing where each description lives
// rather than what it offers: the record's location and every device the
// description holds, each with the description URL that names it.
//
// Its kinds are its own; they are not those of the device tree.
#pragma once

#include "deviceList.h"
#include "deviceTree.h"

#include <string>
#include <vector>

namespace lumivar {

enum FileViewKind : uint16_t {
    FV_RECORD = 5,       // a device record, titled like its device node
    FV_DEVICE = 6,       // a device of the description
    FV_LOCATION = 7,     // "Location"
    FV_LOCATION_URL = 8, // the record's location
    FV_DEVICE_URL = 9,   // a device's description URL
};

inline constexpr char kFileViewLocationText[] = "Location";

// Places or moves record's node (found by its location) under its root,
// titled title, and rebuilds its children in place. deviceNames are the
// devices of the description, root device first; none for a device that is
// filtered or not yet described.
void refreshFileView(DeviceTree &view, const DeviceRecord &record, const std::string &title,
                     const std::vector<std::string> &deviceNames);

} // namespace lumivar
