// Keeps the stack's diagnostics off standard output while a command uses the
// stack. The stack writes its debug console to standard output and its
// categorised log to a sink; a command's standard output must carry only its
// result. While a StackOutput is active, descriptor 1 points at a temporary
// file and the log sink (errors of every category) writes there too, so the
// lines keep their order; finish() puts standard output back and returns
// what was said, for the command to show on standard error when it fails.
#pragma once

#include <cstdio>
#include <string>

namespace qncli {

class StackOutput {
public:
    StackOutput();
    ~StackOutput();
    StackOutput(const StackOutput &) = delete;
    StackOutput &operator=(const StackOutput &) = delete;

    // False when standard output could not be redirected; the command must
    // then not use the stack.
    bool active() const { return saved_ >= 0; }

    // Restores standard output and returns the captured lines, each ended by
    // a line feed (the console's CR LF becomes LF). Later calls return "".
    std::string finish();

private:
    std::FILE *file_ = nullptr;
    int saved_ = -1;
};

// Writes text and a line feed to standard output: a command's result. False,
// with a complaint on standard error, when the output could not be written
// (a closed pipe, a full disk).
bool writeResultLine(const std::string &text);

} // namespace qncli
