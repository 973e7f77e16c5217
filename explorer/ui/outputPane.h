// A page of the "Output" bar: read-only text the program only appends to.
// Each line goes at the end and is scrolled into view, wherever the user
// left the caret. The oldest lines are dropped past kOutputMaxLines, so a
// chatty stack log cannot grow the window without bound.
#pragma once

#include <QPlainTextEdit>

namespace lumivarui {

inline constexpr int kOutputMaxLines = 20000;

class OutputPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit OutputPane(QWidget *parent = nullptr);

    // text as the model writes it: lines ended by "\r\n" (or "\n").
    void appendText(const QString &text);
};

} // namespace lumivarui
