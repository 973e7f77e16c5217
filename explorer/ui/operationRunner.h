// Runs a device operation that waits on the network (an action against a
// slow or dead device can take the stack's whole time-out) on a worker
// thread, with a busy cursor, and hands its rows back on the window
// thread. One operation at a time: the stack's client record of a control
// point must not serve two calls at once, and the window disables the
// network commands while one runs.
#pragma once

#include "infoRows.h"

#include <QFutureWatcher>
#include <QObject>

#include <functional>

namespace lumivarui {

class OperationRunner : public QObject {
    Q_OBJECT
public:
    explicit OperationRunner(QObject *parent = nullptr);
    ~OperationRunner() override;

    [[nodiscard]] bool busy() const { return busy_; }
    // Starts work on a worker thread; done gets its rows on the window
    // thread. False, and nothing runs, while another operation runs.
    bool run(std::function<lumivar::InfoRows()> work, std::function<void(const lumivar::InfoRows &)> done);
    // Waits for the running operation, if any (the window is closing and
    // the stack is about to go).
    void wait();

signals:
    void busyChanged(bool busy);

private:
    void finished();

    QFutureWatcher<lumivar::InfoRows> watcher_;
    std::function<void(const lumivar::InfoRows &)> done_;
    bool busy_ = false;
};

} // namespace lumivarui
