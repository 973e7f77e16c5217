// The Control Point Monitor: the stack's universal device, which hears every
// search on the network and answers none, and the "Active Control Points"
// list of the addresses that searched, each once, in the order first heard.
//
// Threads: startMonitor is called by the window (or at start-up) and takes
// the stack's lock before this object's mutex. monitorHandler runs on the
// stack's server thread under the stack's lock and takes the mutex briefly;
// it never waits for the window. The window reads controlPoints and drains
// takeNotifications with the mutex only.
//
// The stack's handlers carry no user pointer: the most recently constructed
// monitor receives them.
#pragma once

#include "deviceTree.h"
#include "settings.h"
#include "userPrompts.h"

#include "qnSdkApi.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace lumivar {

inline constexpr const char *kControlPointRootText = "Active Control Points";
// This server name makes the stack add its universal device.
inline constexpr const char *kMonitorServerName = "Zentrova Universal Device";
// The root's id in notifications; the entries' ids follow it.
inline constexpr uint64_t kControlPointRootId = 1;

// A child of "Active Control Points": a searcher's dotted address.
struct MonitorEntry {
    uint64_t id; // never reused
    std::string address;
};

class ControlPointMonitor {
public:
    // Both must outlive this object.
    ControlPointMonitor(AppSettings &settings, UserPrompts &prompts);
    ~ControlPointMonitor();
    ControlPointMonitor(const ControlPointMonitor &) = delete;
    ControlPointMonitor &operator=(const ControlPointMonitor &) = delete;

    // The interface the monitor listens on; empty (the default) is the
    // host's address. Set before the first start.
    void setBindAddress(std::string address) { bindAddress_ = std::move(address); }

    // Starts or stops listening; the first start adds the universal device.
    // Nothing when already in the state asked for. False (after "Unable to
    // add universal device!") when the stack would not add it.
    bool startMonitor(bool on);
    [[nodiscard]] bool running() const;
    [[nodiscard]] QN_DEVICE entity() const;

    // MT_DEV_SEARCH: the searcher's IPv4 address as the pointer's value,
    // most significant byte first. -1 for a zero address; 0 otherwise.
    static QN_RET monitorHandler(QN_ENTITY entity, int32_t type, QN_COOKIE cookie, void *arg);

    // The children of "Active Control Points", in order.
    [[nodiscard]] std::vector<MonitorEntry> controlPoints() const;
    // NODE_CHANGED (kControlPointRootId) after each new address, DEBUG_LINE
    // for the "Debug" page.
    [[nodiscard]] std::vector<TreeNotification> takeNotifications();

private:
    QN_RET searched(uint32_t address);

    AppSettings &settings_;
    UserPrompts &prompts_;
    std::string bindAddress_;
    mutable std::mutex mutex_; // after the stack's lock
    QN_DEVICE entity_ = QN_INVALID_DEVICE;
    bool running_ = false;
    std::vector<MonitorEntry> entries_;
    uint64_t nextId_ = kControlPointRootId + 1;
    std::vector<TreeNotification> pending_;
};

} // namespace lumivar
