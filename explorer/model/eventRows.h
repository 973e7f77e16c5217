// The rows of the Event window: one per evented state variable of a device
// control point's description, with the last value the event value table
// holds for it.
#pragma once

#include "eventTable.h"
#include "qnSdkApi.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumivar {

// Columns "Device", "Serivce", "Variable", "Value", "Time".
struct EventRow {
    std::string device;  // shortDeviceType of the device holding the service
    std::string service; // shortServiceType
    std::string variable;
    std::string value;   // "" when the variable never sent an event
    std::string time;    // calendarText of the entry's time; "" as value, or for time 0
};

// The standard types without their URN prefix: "urn:schemas-upnp-org:
// device:MediaRenderer:1" becomes "MediaRenderer:1". Vendor types (another
// domain, or no URN at all) are shown whole, since their domain is the only
// thing that tells two vendors' "X:1" apart.
[[nodiscard]] std::string_view shortDeviceType(std::string_view type);
[[nodiscard]] std::string_view shortServiceType(std::string_view type);

// The 24-character calendar text of the local time zone, as ctime writes
// it without its newline: "Sun Sep  9 01:46:40 2001". Locale-independent
// English names. "" for time 0.
[[nodiscard]] std::string calendarText(uint32_t time);

// Rows for the description of entity, in description order: the root
// device's services, then each embedded device followed by its own.
// Reads the description under the stack's model lock and the table after
// releasing it, so it may be called from any thread that does not hold the
// table's lock. None when the entity has no description.
[[nodiscard]] std::vector<EventRow> eventRowsOf(QN_ENTITY entity, const EventTable &table);

} // namespace lumivar
