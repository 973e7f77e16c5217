// Brings the model's notifications to the window thread. The stack's server
// thread only queues them in the model (it never waits for the window);
// the pump drains the queues on the window thread at a short interval and
// turns them into signals, coalescing the tree changes of one drain into a
// single signal per document.
#pragma once

#include "deviceTree.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

namespace lumivarui {

// How often the queues are looked at: quick enough that a found device or
// an event shows at once, rare enough to cost nothing while idle.
inline constexpr int kPumpIntervalMs = 50;

class NotificationPump : public QObject {
    Q_OBJECT
public:
    using Source = std::function<std::vector<lumivar::TreeNotification>()>;

    // explorer: the device tree's, File View's and output lines' queue
    // (which may carry the monitor's too, marked MONITOR); monitor: a queue
    // of the Control Point Monitor's alone. Either may be empty.
    NotificationPump(Source explorer, Source monitor, QObject *parent = nullptr);

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    // Takes and applies whatever is queued now.
    void drain();

signals:
    void deviceTreeChanged();
    void fileViewChanged();
    void monitorChanged();
    void logText(const QString &text);
    void debugText(const QString &text);
    void eventStored(uint32_t entity);
    void messageBox(const QString &text);

private:
    void apply(const lumivar::TreeNotification &n, bool fromMonitor, bool &tree, bool &files, bool &monitor);

    Source explorer_;
    Source monitor_;
    QTimer timer_;
};

} // namespace lumivarui
