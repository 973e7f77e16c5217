#include "stackOutput.h"

#include "qnSdkApi.h"

#include <string_view>
#include <unistd.h>

namespace qncli {
namespace {

// The sink runs on whatever thread logs; stdio serialises the writes.
void logToStdout(int32_t, const char *text, int32_t)
{
    std::fputs(text, stdout);
    std::string_view view(text);
    if (view.empty() || view.back() != '\n')
        std::fputc('\n', stdout);
    std::fflush(stdout);
}

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
    std::fflush(stdout);
    file_ = std::tmpfile();
    if (file_ == nullptr)
        return;
    saved_ = dup(STDOUT_FILENO);
    if (saved_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0) {
        if (saved_ >= 0)
            close(saved_);
        saved_ = -1;
        return;
    }
    qnSetDebugSink(logToStdout);
    qnSetDebugLevel(QN_LOG_ALL_CATEGORIES, 1, 0);
}

StackOutput::~StackOutput()
{
    finish();
    if (file_ != nullptr)
        std::fclose(file_);
}

std::string StackOutput::finish()
{
    if (saved_ < 0)
        return {};
    qnSetDebugSink(nullptr);
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;

    std::string raw;
    std::rewind(file_);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0)
        raw.append(chunk, n);
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
