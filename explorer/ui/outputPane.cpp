#include "outputPane.h"

#include <QScrollBar>
#include <QTextCursor>

namespace lumivarui {

OutputPane::OutputPane(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setMaximumBlockCount(kOutputMaxLines);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFont(QFont(QStringLiteral("monospace")));
}

void OutputPane::appendText(const QString &text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor end = textCursor();
    end.movePosition(QTextCursor::End);
    end.insertText(lines);
    setTextCursor(end);
    ensureCursorVisible();
}

} // namespace lumivarui
