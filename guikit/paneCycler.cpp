#include "paneCycler.h"

#include <QApplication>
#include <QShortcut>
#include <QWidget>

namespace guikit {

PaneCycler::PaneCycler(QWidget *window, std::function<QList<QWidget *>()> panes)
    : QObject(window), panes_(std::move(panes))
{
    auto *forward = new QShortcut(QKeySequence(Qt::Key_F6), window);
    auto *backward = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), window);
    forward->setContext(Qt::WindowShortcut);
    backward->setContext(Qt::WindowShortcut);
    connect(forward, &QShortcut::activated, this, &PaneCycler::next);
    connect(backward, &QShortcut::activated, this, &PaneCycler::previous);
}

void PaneCycler::cycle(int step)
{
    QList<QWidget *> all = panes_();
    QList<QWidget *> shown;
    for (QWidget *w : all)
        if (w != nullptr && w->isVisible())
            shown.append(w);
    if (shown.isEmpty())
        return;
    int at = -1;
    QWidget *focus = QApplication::focusWidget();
    for (int i = 0; i < shown.size() && at < 0; ++i)
        if (focus != nullptr && (focus == shown[i] || shown[i]->isAncestorOf(focus)))
            at = i;
    int count = static_cast<int>(shown.size());
    int target = at < 0 ? (step > 0 ? 0 : count - 1) : (at + step + count) % count;
    shown[target]->setFocus(Qt::ShortcutFocusReason);
}

} // namespace guikit
