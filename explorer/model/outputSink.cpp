#include "outputSink.h"

#include "qnSdkApi.h"

#include <cstdio>
#include <cstring>

namespace lumivar {

namespace {

void onDebugText(int32_t, const char *text, int32_t) { OutputSink::instance().debugText(text); }
void onConsoleText(const char *text) { OutputSink::instance().consoleText(text); }

} // namespace

OutputSink &OutputSink::instance()
{
    // Never destroyed: a call-back may run on another thread during exit.
    static OutputSink *sink = new OutputSink();
    return *sink;
}

void OutputSink::install()
{
    qnSetDebugSink(onDebugText);
    qnSetConsoleSink(onConsoleText);
}

void OutputSink::uninstall()
{
    qnSetDebugSink(nullptr);
    qnSetConsoleSink(nullptr);
}

void OutputSink::debugText(const char *text)
{
    if (text == nullptr)
        return;
    if (windowUp_.load())
        queue(text);
    if (logToFile_.load())
        appendToFile(text);
}

// The console's status lines have no other place in a windowed program (it
// has no standard output); they are shown but never written to the log file.
void OutputSink::consoleText(const char *text)
{
    if (text != nullptr && windowUp_.load())
        queue(text);
}

void OutputSink::queue(const char *text)
{
    std::string line(text);
    std::lock_guard guard(queueMutex_);
    if (lines_.size() >= kMaxQueuedLines)
        lines_.pop_front();
    lines_.push_back(std::move(line));
}

void OutputSink::appendToFile(const char *text)
{
    const std::string path(kLogFilePath);
    std::lock_guard guard(fileMutex_);
    std::FILE *file = std::fopen(path.c_str(), "ab");
    if (file == nullptr)
        return;
    std::fwrite(text, 1, std::strlen(text), file);
    std::fclose(file);
}

std::vector<TreeNotification> OutputSink::take()
{
    std::deque<std::string> taken;
    {
        std::lock_guard guard(queueMutex_);
        taken.swap(lines_);
    }
    std::vector<TreeNotification> out;
    out.reserve(taken.size());
    for (auto &line : taken)
        out.push_back({TreeNotification::DEBUG_LINE, 0, std::move(line)});
    return out;
}

void OutputSink::clear()
{
    std::lock_guard guard(queueMutex_);
    lines_.clear();
}

} // namespace lumivar
