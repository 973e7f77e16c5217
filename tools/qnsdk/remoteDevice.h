// A remote device as the control commands (call, query, subscribe) reach
// it: the stack started with a control point bound to the device's
// description URL, which learns of the device by SSDP and downloads its
// description before the command may use it. A UDN instead of a URL is
// searched for first.
#pragma once

#include "stackOutput.h"

#include "qnSdkApi.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qncli {

// What every control command accepts besides its own arguments.
struct RemoteOptions {
    std::string location; // description URL, or a UDN ("uuid:...")
    std::string addr;     // local address; empty: the host's
    int waitSeconds = 5;  // for the device to be found, described and to answer "tracked"
};

// Reads --addr IP and --wait S out of argv (they may stand anywhere);
// the other arguments are kept in order in rest. False on a malformed one.
bool takeRemoteOptions(int argc, char **argv, RemoteOptions &options, std::vector<std::string> &rest);

// The JSON line of a SOAP fault: {"fault":{"code":..,"description":..}}
// with the UPnP error code and description the record carries.
std::string faultJson(const QNApiAction &fault);

// Reports a failed command on standard error: the reason, then what the
// stack said. Returns kExitFailure.
int failCommand(const char *command, const std::string &why, const std::string &said);

class RemoteSession {
public:
    // Keeps the stack's console off standard output from here on.
    RemoteSession();
    ~RemoteSession();
    RemoteSession(const RemoteSession &) = delete;
    RemoteSession &operator=(const RemoteSession &) = delete;

    // Starts the stack and a control point for the device (events go to
    // eventHandler on the stack's thread). Returns once the device is
    // described; false with the reason in *why when it is not found in
    // time.
    bool open(const RemoteOptions &options, QNMsgHandler eventHandler, std::string *why);
    QN_CONTROL_POINT cp() const { return cp_; }

    // Runs a control-point call until it no longer answers "no device
    // tracked" (a device that has just announced itself may say byebye and
    // alive again). Finding, describing and these retries share one
    // deadline, waitSeconds after open; the call itself then ends within its
    // own time-out, so that a hostile device cannot stretch the command.
    QN_RET untilTracked(const std::function<QN_RET()> &call, QN_RET untracked = QN_ERR_NO_DEVICE) const;

    // Stops the stack; returns what it said on its console, for a failing
    // command to show on standard error.
    std::string close();

    bool active() const { return output_.active(); }

private:
    bool findLocation(const RemoteOptions &options, std::string *location, std::string *why);

    StackOutput output_;
    QN_CONTROL_POINT cp_ = QN_INVALID_CONTROL_POINT;
    std::chrono::steady_clock::time_point deadline_{};
    bool running_ = false;
};

} // namespace qncli
