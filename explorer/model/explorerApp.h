// The explorer as one application object: it brings the log file, the
// stack's text call-backs, the settings and the stack up in a fixed order,
// starts the Device Explorer, and takes it all down again. The windowed
// program and lumivar-headless both run through it.
//
// Start-up (start):
//   1. "./log.txt" is created empty (relative to the working directory);
//   2. the stack's debug log and console call-backs are registered
//      (OutputSink);
//   3. the settings file is the application directory's "Zentrova.ini"
//      unless setSettingsPath named another;
//   4. loadSettings, then the stack's log levels from them;
//   5. qnSdkInit, the server thread to come with a 1 MiB stack;
//   6. DeviceExplorer::startExplorer(true): the main control point, then
//      qnSdkRun, which starts the server thread.
// The window then builds itself and calls setMainWindowUp(true).
//
// Shut-down: stopServer when the main window closes (the flag cleared, the
// server loop stopped), then finish: saveSettings, then qnSdkClean.
//
// One ExplorerApp at a time per process: the stack is one per process.
#pragma once

#include "controlPointMonitor.h"
#include "deviceExplorer.h"
#include "deviceOperations.h"
#include "deviceTree.h"
#include "settings.h"
#include "userPrompts.h"
#include "virtualDevices.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lumivar {

// The server thread's stack size handed to qnSdkInit.
inline constexpr int32_t kServerThreadStackSize = 1048576;

class ExplorerApp {
public:
    explicit ExplorerApp(std::string appDirectory = applicationDirectory());
    ~ExplorerApp(); // finish()
    ExplorerApp(const ExplorerApp &) = delete;
    ExplorerApp &operator=(const ExplorerApp &) = delete;

    // Before start: another settings file than appDirectory + "Zentrova.ini",
    // and the address the control points listen on (empty: the host's).
    void setSettingsPath(std::string path) { settingsPath_ = std::move(path); }
    void setBindAddress(std::string address) { bindAddress_ = std::move(address); }
    // Who answers the model's questions (message boxes, dialogs): the
    // window. Without one, messages go to stderr and dialogs are cancelled,
    // as befits a program without a window. prompts must outlive this object.
    void setPrompts(UserPrompts &prompts) { prompts_.target = &prompts; }

    // Runs the start-up in its order once. False when the Device Explorer
    // could not start (the stack failed); the rest is up all the same, and
    // finish still writes the settings back.
    bool start();

    // The main window's flag: while it is up, the stack's debug text and the
    // explorer's own lines reach takeNotifications.
    void setMainWindowUp(bool up);
    // The main window closes: the flag is cleared and the server loop stops.
    void stopServer();
    // Writes the settings back, then cleans the stack. Only after start;
    // once only (the destructor calls it too). False when the settings file
    // could not be written.
    bool finish();

    // Change filters through explorer().changeFilters once started: the
    // server thread reads them.
    [[nodiscard]] AppSettings &settings() { return settings_; }
    [[nodiscard]] DeviceExplorer &explorer() { return explorer_; }
    [[nodiscard]] DeviceOperations &operations() { return operations_; }
    [[nodiscard]] VirtualDevices &virtualDevices() { return virtualDevices_; }
    [[nodiscard]] ControlPointMonitor &monitor() { return monitor_; }
    [[nodiscard]] const std::string &appDirectory() const { return appDirectory_; }
    [[nodiscard]] const std::string &settingsFile() const { return settingsPath_; }

    // What the window applies on its own thread: the explorer's tree changes
    // and its "Log"/"Debug" lines, the monitor's list, and the stack's debug
    // text. Lines are
    // dropped while the main window is down, as the window would not show them.
    [[nodiscard]] std::vector<TreeNotification> takeNotifications();

private:
    std::string appDirectory_;
    std::string settingsPath_;
    std::string bindAddress_;
    // Forwards to the window's prompts once it has set them, so that the
    // parts below can be built before the window exists.
    struct PromptsRelay : UserPrompts {
        UserPrompts *target = nullptr;
        void messageBox(const std::string &text) override;
        bool editValues(SetValueDialog &dialog) override;
        std::optional<std::string> chooseOpenFile(const std::string &filterText) override;
    };

    AppSettings settings_;
    PromptsRelay prompts_;
    DeviceExplorer explorer_{settings_};
    DeviceOperations operations_{explorer_, prompts_};
    VirtualDevices virtualDevices_{explorer_, settings_, prompts_};
    ControlPointMonitor monitor_{settings_, prompts_};
    bool started_ = false;
    bool finished_ = false;
    bool settingsSaved_ = false;
};

} // namespace lumivar
