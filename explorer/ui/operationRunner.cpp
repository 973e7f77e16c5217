#include "operationRunner.h"

#include <QApplication>
#include <QtConcurrent/QtConcurrentRun>

namespace lumivarui {

OperationRunner::OperationRunner(QObject *parent) : QObject(parent)
{
    connect(&watcher_, &QFutureWatcher<lumivar::InfoRows>::finished, this, &OperationRunner::finished);
}

OperationRunner::~OperationRunner() { wait(); }

bool OperationRunner::run(std::function<lumivar::InfoRows()> work, std::function<void(const lumivar::InfoRows &)> done)
{
    if (busy_)
        return false;
    busy_ = true;
    done_ = std::move(done);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    emit busyChanged(true);
    watcher_.setFuture(QtConcurrent::run(std::move(work)));
    return true;
}

void OperationRunner::wait()
{
    if (!busy_)
        return;
    watcher_.waitForFinished();
    finished();
}

void OperationRunner::finished()
{
    if (!busy_)
        return; // wait() already delivered it
    busy_ = false;
    QApplication::restoreOverrideCursor();
    lumivar::InfoRows rows = watcher_.future().result();
    auto done = std::move(done_);
    done_ = nullptr;
    emit busyChanged(false);
    if (done)
        done(rows);
}

} // namespace lumivarui
