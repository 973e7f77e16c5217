#include "contextTreeView.h"

#include <QContextMenuEvent>
#include <QKeyEvent>

namespace guikit {

ContextTreeView::ContextTreeView(QWidget *parent) : QTreeView(parent)
{
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

void ContextTreeView::contextMenuEvent(QContextMenuEvent *event)
{
    if (event->reason() == QContextMenuEvent::Keyboard) {
        openAtCurrent();
        return;
    }
    QModelIndex under = indexAt(event->pos());
    if (under.isValid())
        setCurrentIndex(under);
    emit contextMenuWanted(event->globalPos());
}

void ContextTreeView::keyPressEvent(QKeyEvent *event)
{
    // Qt turns the menu key into a context-menu event but leaves Shift+F10,
    // the other key for it, to the application.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        openAtCurrent();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void ContextTreeView::openAtCurrent()
{
    QModelIndex current = currentIndex();
    QPoint at;
    if (current.isValid()) {
        scrollTo(current);
        QRect rect = visualRect(current);
        at = QPoint(rect.left() + rect.height(), rect.bottom());
    }
    emit contextMenuWanted(viewport()->mapToGlobal(at));
}

} // namespace guikit
