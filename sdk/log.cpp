#include "log.h"
#include "qnLimits.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Plain words that any thread may change at any time; atomics keep the
// reads well defined without a lock.
std::atomic<int32_t> categoryEnabled[QN_LOG_CATEGORY_COUNT];
std::atomic<int32_t> categoryLevel[QN_LOG_CATEGORY_COUNT];
std::atomic<QNDebugSink> logSink{nullptr};
std::atomic<ConsoleSink> consoleSink{nullptr};
thread_local bool consoleQuiet = false;

// Lines kept by a ConsoleDeferral of this thread.
struct KeptLines {
    std::vector<std::string> lines;
    size_t bytes = 0;
    uint32_t dropped = 0; // beyond kConsoleDeferMax
};
thread_local KeptLines *kept = nullptr;
thread_local bool keeping = false; // a ConsoleDeferral lives on this thread

// The budget of kept lines written per second, for every thread.
std::mutex budgetLock;
int64_t budgetSecond = 0;
int budgetUsed = 0;
uint32_t budgetDropped = 0;

void writeConsole(const char *text)
{
    ConsoleSink sink = consoleSink.load();
    if (sink != nullptr) {
        sink(text);
    } else {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
}

// True when a kept line may be written now (extraDropped more were dropped
// before it); reports what was dropped in an earlier second.
bool takeBudget(uint32_t extraDropped)
{
    int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
    uint32_t report = 0;
    bool ok = false;
    {
        std::lock_guard guard(budgetLock);
        budgetDropped += extraDropped;
        if (now != budgetSecond) {
            budgetSecond = now;
            budgetUsed = 0;
            report = budgetDropped;
            budgetDropped = 0;
        }
        ok = budgetUsed < kConsoleLinesPerSecond;
        if (ok)
            ++budgetUsed;
        else
            ++budgetDropped;
    }
    if (report > 0) {
        char line[64];
        std::snprintf(line, sizeof line, " %u console lines dropped\r\n", report);
        writeConsole(line);
    }
    return ok;
}

} // namespace

extern "C" QN_RET qnSetDebugSink(QNDebugSink sink)
{
    logSink.store(sink);
    return QN_OK;
}

extern "C" void qnSetDebugLevel(int32_t category, int32_t enabled, int32_t level)
{
    if (category == QN_LOG_ALL_CATEGORIES) {
        for (int i = 0; i < QN_LOG_CATEGORY_COUNT; ++i) {
            categoryEnabled[i].store(enabled);
            categoryLevel[i].store(level);
        }
    } else if (category >= 0 && category < QN_LOG_CATEGORY_COUNT) {
        categoryEnabled[category].store(enabled);
        categoryLevel[category].store(level);
    }
}

bool debugEnabled(int category, int level)
{
    if (category < 0 || category >= QN_LOG_CATEGORY_COUNT || logSink.load() == nullptr)
        return false;
    return categoryEnabled[category].load() != 0 && categoryLevel[category].load() >= level;
}

extern "C" void qnDebugPrint(int32_t category, const char *text, int32_t level)
{
    QNDebugSink sink = logSink.load();
    if (text != nullptr && sink != nullptr && debugEnabled(category, level))
        sink(category, text, level);
}

void debugPrint(int category, const char *text, int level)
{
    qnDebugPrint(category, text, level);
}

void debugPrintf(int category, int level, const char *format, ...)
{
    if (!debugEnabled(category, level))
        return;
    char text[kLogLineMax];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    qnDebugPrint(category, text, level);
}

ConsoleQuiet::ConsoleQuiet(bool active) : previous_(consoleQuiet)
{
    if (active)
        consoleQuiet = true;
}

ConsoleQuiet::~ConsoleQuiet()
{
    consoleQuiet = previous_;
}

void consolePrint(const char *format, ...)
{
    if (consoleQuiet)
        return;
    // Console lines may carry a whole message; a short line stays on the
    // stack (the server thread may have a small one), a long one goes to the heap.
    char small[kLogLineMax];
    std::string large;
    const char *text = small;
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    int needed = std::vsnprintf(small, sizeof small, format, ap);
    if (needed >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        text = large.c_str();
    }
    va_end(again);
    va_end(ap);
    if (keeping) {
        // Allocated at the first line: most steps of the loop say nothing.
        if (kept == nullptr)
            kept = new KeptLines;
        size_t length = std::strlen(text);
        if (kept->bytes + length > kConsoleDeferMax) {
            ++kept->dropped;
            return;
        }
        kept->lines.emplace_back(text, length);
        kept->bytes += length;
        return;
    }
    writeConsole(text);
}

ConsoleDeferral::ConsoleDeferral() : outer_(!keeping)
{
    keeping = true;
}

ConsoleDeferral::~ConsoleDeferral()
{
    if (!outer_)
        return;
    flush();
    delete kept;
    kept = nullptr;
    keeping = false;
}

void ConsoleDeferral::flush()
{
    if (!outer_ || kept == nullptr || (kept->lines.empty() && kept->dropped == 0))
        return;
    KeptLines lines;
    std::swap(lines, *kept);
    uint32_t extra = lines.dropped;
    for (const std::string &line : lines.lines) {
        if (takeBudget(extra))
            writeConsole(line.c_str());
        extra = 0;
    }
    if (extra > 0)
        (void)takeBudget(extra);
}

void setConsoleSink(ConsoleSink sink)
{
    consoleSink.store(sink);
}

extern "C" QN_RET qnSetConsoleSink(QNConsoleSink sink)
{
    setConsoleSink(sink);
    return QN_OK;
}
