#include "lockIndicators.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

#if defined(GUIKIT_HAVE_XKB)
#include "xkbLamps.h"

#include <QtGui/qguiapplication_platform.h>
#endif

namespace guikit {

namespace {

QLabel *indicator(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 8);
    return label;
}

} // namespace

LockState currentLockState()
{
    LockState state;
#if defined(GUIKIT_HAVE_XKB) && QT_CONFIG(xcb)
    if (auto *x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (Display *display = x11->display()) {
            state.caps = xkbLamp(display, "Caps Lock");
            state.num = xkbLamp(display, "Num Lock");
            state.scroll = xkbLamp(display, "Scroll Lock");
        }
    }
#endif
    return state;
}

LockIndicators::LockIndicators(QWidget *parent) : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    caps_ = indicator(QStringLiteral("CAP"), this);
    num_ = indicator(QStringLiteral("NUM"), this);
    scroll_ = indicator(QStringLiteral("SCRL"), this);
    row->addWidget(caps_);
    row->addWidget(num_);
    row->addWidget(scroll_);
    showLocks(currentLockState());
    // A lock changes with a key press, possibly in another program while
    // ours is in the background: look again after keys and activation.
    qApp->installEventFilter(this);
}

void LockIndicators::showLocks(const LockState &state)
{
    shown_ = state;
    caps_->setEnabled(state.caps);
    num_->setEnabled(state.num);
    scroll_->setEnabled(state.scroll);
}

bool LockIndicators::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease || event->type() == QEvent::ApplicationActivate)
        showLocks(currentLockState());
    return QWidget::eventFilter(watched, event);
}

} // namespace guikit
