#include "stackOutput.h"

#include "qnSdkApi.h"

#include <cstdio>
#include <mutex>
#include <string_view>

namespace qncli {
namespace {

// What the stack said while a StackOutput is active. The sinks run on
// whatever thread speaks (the server thread, the command's own).
std::mutex collectedLock;
std::string collected;

void collect(std::string_view text)
{
    std::lock_guard guard(collectedLock);
    collected += text;
    if (text.empty() || text.back() != '\n')
        collected += '\n';
}

void collectConsole(const char *text) { collect(text); }
void collectLog(int32_t, const char *text, int32_t) { collect(text); }

// CR LF and lone CR become LF; a last line without an end gets one.
std::string normaliseLines(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size() + 1);
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r') {
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                continue;
            out += '\n';
        } else {
            out += raw[i];
        }
    }
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    return out;
}

} // namespace

StackOutput::StackOutput()
{
    {
        std::lock_guard guard(collectedLock);
        collected.clear();
    }
    active_ = qnSetConsoleSink(collectConsole) == QN_OK && qnSetDebugSink(collectLog) == QN_OK;
    qnSetDebugLevel(QN_LOG_ALL_CATEGORIES, 1, 0);
}

StackOutput::~StackOutput()
{
    finish();
}

std::string StackOutput::finish()
{
    if (!active_)
        return {};
    active_ = false;
    qnSetDebugSink(nullptr);
    // Console lines that come later (the stack being cleaned) are dropped
    // rather than mixed into the command's result.
    qnSetConsoleSink([](const char *) {});
    std::string raw;
    {
        std::lock_guard guard(collectedLock);
        raw.swap(collected);
    }
    return normaliseLines(raw);
}

bool writeResultLine(const std::string &text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "qnsdk: cannot write the result\n");
        return false;
    }
    return true;
}

} // namespace qncli
