// The status bar's keyboard lock indicators "CAP", "NUM" and "SCRL": each
// shows its text while its lock is on and stays grey otherwise. The lamps
// are read from the X server; on platforms where they cannot be read the
// indicators stay grey.
#pragma once

#include <QWidget>

class QLabel;

namespace guikit {

struct LockState {
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

// The lamps now; all off when they cannot be read.
[[nodiscard]] LockState currentLockState();

class LockIndicators : public QWidget {
    Q_OBJECT
public:
    explicit LockIndicators(QWidget *parent = nullptr);

    void showLocks(const LockState &state);
    [[nodiscard]] LockState shown() const { return shown_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *caps_;
    QLabel *num_;
    QLabel *scroll_;
    LockState shown_;
};

} // namespace guikit
