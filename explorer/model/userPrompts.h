// What the model asks of the user: message boxes, the "Set Value" dialog
// and the open-file dialog. The window implements it; tests answer it.
//
// Each call is modal for the user, so none is ever made from the stack's
// server thread (a handler queues a notification instead) nor while the
// stack's lock or the explorer's mutex is held.
#pragma once

#include <optional>
#include <string>

namespace lumivar {

struct SetValueDialog;

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // The window thread shows it; may be called from a worker thread (the
    // implementation marshals), never from the stack's server thread.
    virtual void messageBox(const std::string &text) = 0;
    // The modal "Set Value" dialog on the window thread; true on "&OK".
    virtual bool editValues(SetValueDialog &dialog) = 0;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> chooseOpenFile(const std::string &filterText) = 0;
};

} // namespace lumivar
