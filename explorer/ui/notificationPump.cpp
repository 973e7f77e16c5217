#include "notificationPump.h"

namespace lumivarui {

NotificationPump::NotificationPump(Source explorer, Source monitor, QObject *parent)
    : QObject(parent), explorer_(std::move(explorer)), monitor_(std::move(monitor))
{
    timer_.setInterval(kPumpIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &NotificationPump::drain);
}

void NotificationPump::drain()
{
    bool tree = false, files = false, monitor = false;
    if (explorer_)
        for (const auto &n : explorer_())
            apply(n, false, tree, files, monitor);
    if (monitor_)
        for (const auto &n : monitor_())
            apply(n, true, tree, files, monitor);
    if (tree)
        emit deviceTreeChanged();
    if (files)
        emit fileViewChanged();
    if (monitor)
        emit monitorChanged();
}

void NotificationPump::apply(const lumivar::TreeNotification &n, bool fromMonitor, bool &tree, bool &files,
                             bool &monitor)
{
    using N = lumivar::TreeNotification;
    switch (n.type) {
    case N::NODE_CHANGED:
        if (fromMonitor || n.document == N::MONITOR)
            monitor = true;
        else if (n.document == N::FILE_VIEW)
            files = true;
        else
            tree = true;
        break;
    case N::LOG_LINE:
        emit logText(QString::fromStdString(n.text));
        break;
    case N::DEBUG_LINE:
        emit debugText(QString::fromStdString(n.text));
        break;
    case N::EVENT_STORED:
        emit eventStored(n.entity);
        break;
    case N::MESSAGE_BOX:
        emit messageBox(QString::fromStdString(n.text));
        break;
    }
}

} // namespace lumivarui
