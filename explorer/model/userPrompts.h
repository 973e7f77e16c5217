// What the model asks of a person, through the window layer; tests give a
// fake. Never called from the stack's server thread: a handler queues a
// MESSAGE_BOX notification instead, so the server never waits on a person.
#pragma once

#include <optional>
#include <string>

namespace lumivar {

struct SetValueDialog;

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // Shown by the window thread; may be called from a worker thread (the
    // implementation hands it over and waits until it is dismissed).
    virtual void messageBox(const std::string &text) = 0;
    // The modal "Set Value" dialog, on the window thread: true on "&OK"
    // with the entered values in dialog, false on "&Cancel".
    virtual bool editValues(SetValueDialog &dialog) = 0;
    // A file to open, or none when the person cancelled.
    virtual std::optional<std::string> chooseOpenFile(const std::string &filterText) = 0;
};

} // namespace lumivar
