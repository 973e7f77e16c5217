// One rule of the device filters, as the "Filter" section of Zentrova.ini
// keeps it ("Name0", "Type0", ...). The list is ordered: the first rule that
// decides wins.
#pragma once

#include <cstdint>
#include <string>

namespace lumivar {

// What a filter's pattern is matched against.
enum FilterType : uint32_t {
    FT_DEVICE_TYPE = 1,   // "Device Type": a deviceType element
    FT_MANUFACTURER = 2,  // "Manufacturer"
    FT_UDN = 3,           // "UDN"
    FT_UPC = 4,           // "UPC"
    FT_SERVICE_TYPE = 5,  // "Service Type": a serviceType element
    FT_IP_ADDRESS = 6,    // "IP Address": the device's address as a dotted quad
    FT_XML_VALUE = 7,     // "XML Value": never matches
    FT_COMMON_STRING = 8, // "Common String": never matches
};

struct FilterRecord {
    std::string name;                 // an empty name ends the list
    uint32_t type = FT_DEVICE_TYPE;   // FilterType, 1 to 8
    bool applyToDevice = false;       // used when a control point judges a device
    bool applyToControlPoint = false; // used when a device judges control points
    std::string pattern;              // an empty pattern ends the list
    bool pass = true;                 // on a match: pass (true) or drop
    bool skip = true;                 // a matching pass rule ends the walk
};

} // namespace lumivar
