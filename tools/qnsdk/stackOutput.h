// Keeps the stack's diagnostics off standard output while a command uses the
// stack: a command's standard output must carry only its result. While a
// StackOutput is active, the stack's console lines and its log (errors of
// every category) are collected through the stack's two sinks, in the order
// they were said; finish() stops collecting and returns what was said, for
// the command to show on standard error when it fails. One at a time.
#pragma once

#include <string>

namespace qncli {

class StackOutput {
public:
    StackOutput();
    ~StackOutput();
    StackOutput(const StackOutput &) = delete;
    StackOutput &operator=(const StackOutput &) = delete;

    // False when the output could not be taken over; the command must then
    // not use the stack.
    bool active() const { return active_; }

    // Stops collecting and returns the collected lines, each ended by a line
    // feed (the console's CR LF becomes LF). Later calls return "".
    std::string finish();

private:
    bool active_ = false;
};

// Writes text and a line feed to standard output: a command's result. False,
// with a complaint on standard error, when the output could not be written
// (a closed pipe, a full disk).
bool writeResultLine(const std::string &text);

} // namespace qncli
