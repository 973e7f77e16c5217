// The frame of one document window in the tabbed document area. It asks
// the window registry before it closes, so that the Information and Event
// windows refuse every way of closing them (tab button, window menu,
// Ctrl+F4, "&Close", "Close All").
#pragma once

#include <QMdiSubWindow>

#include <functional>

namespace lumivarui {

class DocumentFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    // mayClose is asked with docId at every close request; true lets the
    // frame close (and the registry has then forgotten the document).
    DocumentFrame(int docId, bool fixed, std::function<bool(int)> mayClose, QWidget *parent = nullptr);

    [[nodiscard]] int docId() const { return docId_; }
    [[nodiscard]] bool fixed() const { return fixed_; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    int docId_;
    bool fixed_;
    std::function<bool(int)> mayClose_;
};

} // namespace lumivarui
