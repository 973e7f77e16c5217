// What the model asks of the user, shown by the window: message boxes, the
// "Set Value" dialog and the open-file dialog.
//
// The model may ask from a worker thread (an operation running off the
// window thread stops with a message): the call is then carried over to
// the window thread and the worker waits for the answer, as it would for a
// modal box. The stack's server thread never asks (its handlers queue a
// notification), and the window thread never waits for a worker, so the
// wait cannot deadlock.
#pragma once

#include "userPrompts.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace lumivarui {

class WindowPrompts : public QObject, public lumivar::UserPrompts {
    Q_OBJECT
public:
    explicit WindowPrompts(QObject *parent = nullptr);

    // The window the boxes belong to (their parent); none until it exists.
    void setWindow(QWidget *window) { window_ = window; }

    void messageBox(const std::string &text) override;
    bool editValues(lumivar::SetValueDialog &dialog) override;
    std::optional<std::string> chooseOpenFile(const std::string &filterText) override;

private:
    // Runs call on the window thread and waits for it when asked elsewhere.
    void onWindowThread(const std::function<void()> &call);

    QPointer<QWidget> window_;
};

// The file dialog's filter for an MFC-style filter text ("Text|*.txt|..."),
// up to its double bar: "All Files (*.*)|*.*||XML Files (*.xml)|*.xml"
// offers "All Files (*.*)" alone.
[[nodiscard]] QString fileDialogFilter(const std::string &filterText);

} // namespace lumivarui
