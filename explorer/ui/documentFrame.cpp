#include "documentFrame.h"

#include <QCloseEvent>
#include <QMenu>

namespace lumivarui {

DocumentFrame::DocumentFrame(int docId, bool fixed, std::function<bool(int)> mayClose, QWidget *parent)
    : QMdiSubWindow(parent), docId_(docId), fixed_(fixed), mayClose_(std::move(mayClose))
{
    setAttribute(Qt::WA_DeleteOnClose);
    if (!fixed_)
        return;
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    if (QMenu *menu = systemMenu()) {
        for (QAction *a : menu->actions())
            if (a->shortcut() == QKeySequence(QKeySequence::Close))
                menu->removeAction(a);
    }
}

void DocumentFrame::closeEvent(QCloseEvent *event)
{
    if (!mayClose_(docId_)) {
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}

} // namespace lumivarui
