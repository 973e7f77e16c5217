// The device list: every device the explorer has seen, in insertion order.
// Records of devices found on the network are never removed.
#pragma once

#include "qnSdkApi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumivar {

// The longest name and location the explorer asks the stack for.
inline constexpr int32_t kDeviceTextMaxLen = 256;

struct DeviceRecord {
    QN_ENTITY entity = QN_INVALID_CONTROL_POINT; // the device control point, or none
    QN_ENTITY owner = QN_INVALID_CONTROL_POINT;  // the main control point that found it
    std::string location;                        // the description URL
    std::string name;                            // the stack's name for entity; empty until known
    bool active = true;                          // found on the network
    bool isVirtual = false;                      // always false for records the explorer makes
    bool filtered = false;                       // the filters dropped it
    uint32_t lastChecked = 0;                    // tickSeconds() of the last judgement
};

class DeviceList {
public:
    // The index of the record whose entity or owner is entity and whose
    // location is location, or -1.
    [[nodiscard]] int find(QN_ENTITY entity, const std::string &location) const;
    // Updates the record matching (record.entity or record.owner, location)
    // in place, or appends it. Returns its index.
    int store(const DeviceRecord &record);
    // Drops the record at index (loaded files only: network devices stay).
    void remove(int index);

    [[nodiscard]] const std::vector<DeviceRecord> &records() const { return records_; }
    [[nodiscard]] DeviceRecord &at(int index) { return records_.at(static_cast<size_t>(index)); }

private:
    std::vector<DeviceRecord> records_;
};

} // namespace lumivar
