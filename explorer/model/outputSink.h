// Where the stack's text goes in the explorer: its categorised debug log
// and its debug console, both received through call-backs that the stack
// may call on any thread, its server thread included, while it holds its
// lock. A call therefore never waits for the window thread: a line is
// queued for the "Debug" page (a short leaf lock, held for a push only) and,
// when asked, appended to the log file.
//
// The call-backs carry no user pointer, and a call may still be under way on
// some thread when an application object ends, so there is one sink for the
// process and it is never destroyed.
#pragma once

#include "deviceTree.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace lumivar {

// The log file, relative to the working directory.
inline constexpr std::string_view kLogFilePath = "./log.txt";
// Lines waiting for the window beyond this many push out the oldest, so a
// window that stops reading cannot make the process grow without end.
inline constexpr std::size_t kMaxQueuedLines = 10000;

class OutputSink {
public:
    static OutputSink &instance();

    // Registers the stack's debug log and console call-backs; uninstall
    // gives the console back to standard output and drops the log.
    void install();
    void uninstall();

    // While the main window is up, lines are queued for its "Debug" page;
    // before and after, the log's text goes to the file alone.
    void setWindowUp(bool up) { windowUp_.store(up); }
    [[nodiscard]] bool windowUp() const { return windowUp_.load(); }
    // The debug log's text is also appended to kLogFilePath, opened and
    // closed again for every line so that the file is whole at any time.
    void setLogToFile(bool on) { logToFile_.store(on); }

    // The queued lines as DEBUG_LINE notifications, oldest first.
    [[nodiscard]] std::vector<TreeNotification> take();
    // Forgets the queued lines (a new application starts).
    void clear();

    // What the call-backs do with one text.
    void debugText(const char *text);
    void consoleText(const char *text);

private:
    OutputSink() = default;
    void queue(const char *text);
    void appendToFile(const char *text);

    std::atomic<bool> windowUp_{false};
    std::atomic<bool> logToFile_{false};
    std::mutex queueMutex_; // a leaf: nothing else is taken while it is held
    std::deque<std::string> lines_;
    std::mutex fileMutex_; // one line at a time in the file
};

} // namespace lumivar
