// Devices the explorer hosts itself: description files loaded from disk as
// device entities of the stack. A loaded file is listed under "Inactive
// Devices" and stays stopped; "Run virtual device" sets it running, so that
// it announces itself, serves its description and a presentation page, and
// answers control points with the values entered in its tree (or numbered
// default texts), under "Virtual Devices".
//
// Threads: loadXmlFile, unloadXmlFile and runVirtualDevice are called by
// the window (its thread or a worker); they take the stack's lock, then the
// explorer's mutex, and show message boxes only with neither held. The
// handler runs on the stack's server thread under the stack's lock, takes
// the explorer's mutex briefly and never waits for the window.
//
// The stack's handlers carry no user pointer: the most recently constructed
// VirtualDevices answers them.
#pragma once

#include "deviceExplorer.h"
#include "settings.h"
#include "userPrompts.h"

#include "qnSdkApi.h"

#include <cstdint>
#include <string>

namespace lumivar {

// The open-file dialog's filter text (its double bar ends the list, so only
// "All Files (*.*)" is offered).
inline constexpr const char *kXmlFileFilter = "All Files (*.*)|*.*||XML Files (*.xml)|*.xml";
inline constexpr const char *kFileLocationPrefix = "file://";
inline constexpr const char *kVirtualServerName = "Corvanta Lumiscope";
// The stack turns it into "/UPnP": the descriptions are published there.
inline constexpr const char *kVirtualWebPath = "\\UPnP\\";
inline constexpr const char *kArgValueStem = "QNE Virtual Dev Arg Value ";
inline constexpr const char *kVarValueStem = "QNE Virtual Dev Var Value ";
// Directory and file name handed to the stack are at most this long.
inline constexpr size_t kLoadedPathPartMaxLen = 127;

class VirtualDevices {
public:
    // All three must outlive this object.
    VirtualDevices(DeviceExplorer &explorer, AppSettings &settings, UserPrompts &prompts);
    ~VirtualDevices();
    VirtualDevices(const VirtualDevices &) = delete;
    VirtualDevices &operator=(const VirtualDevices &) = delete;

    // The address the devices are published on; empty (the default) is the
    // host's address.
    void setBindAddress(std::string address) { bindAddress_ = std::move(address); }

    // Adds the description file at path (the window asked chooseOpenFile
    // first) as a stopped device under "Inactive Devices". False, after its
    // message box, when it is open already or cannot be added.
    bool loadXmlFile(const std::string &path);
    // Removes the device of the selected node: its entity (a device entity,
    // running or not, or a control point), its record and its node.
    void unloadXmlFile(uint64_t selectedId);
    // Starts (run) or stops a loaded file's device; a running one moves to
    // "Virtual Devices", a stopped one (after its byebye) back to "Inactive
    // Devices". False when the selection is no loaded file or the stack
    // refused.
    bool runVirtualDevice(uint64_t selectedId, bool run);

    static QN_RET virtualDeviceHandler(QN_ENTITY entity, int32_t type, QN_COOKIE cookie, void *arg);

    // The numbers the next generated argument and variable values will
    // carry (process-wide, from 0, never reset).
    [[nodiscard]] static uint32_t nextArgumentNumber();
    [[nodiscard]] static uint32_t nextVariableNumber();

private:
    static QN_RET answerAction(QN_ENTITY device, QNApiAction *action);
    static QN_RET answerQuery(QN_ENTITY device, QNNameVal *variable);
    bool refuseLoad(const std::string &message);

    DeviceExplorer &explorer_;
    AppSettings &settings_;
    UserPrompts &prompts_;
    std::string bindAddress_;
};

} // namespace lumivar
