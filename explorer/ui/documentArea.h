// The tabbed document area of the main window: the Information and Event
// windows and any number of XML windows, one tab each. The model's window
// registry decides titles, numbers (the tab order) and which windows may
// close; this class makes and removes the widgets to match.
#pragma once

#include "windowRegistry.h"

#include <QMdiArea>
#include <QObject>

#include <functional>
#include <map>
#include <memory>

class QNetworkAccessManager;

namespace lumivarui {

class DocumentFrame;
class ListWindow;
class XmlWindow;

struct WindowEntry {
    int number;
    QString title;
    DocumentFrame *frame;
};

class DocumentArea : public QMdiArea {
    Q_OBJECT
public:
    // messageBox shows the registry's failure messages.
    DocumentArea(QNetworkAccessManager &network, std::function<void(const QString &)> messageBox,
                 QWidget *parent = nullptr);
    ~DocumentArea() override;

    // The Information / Event window, made when missing and create is set;
    // null (after the message) when it cannot be made.
    ListWindow *informationWindow(bool create);
    ListWindow *eventWindow(bool create);
    // "&View" "&Information" / "&Event": the one window, in front.
    void showInformationWindow();
    void showEventWindow();
    // "Retrieve XML" and "Visit": the window for url, navigated, in front.
    XmlWindow *openUrl(const QString &url);

    // The active frame's document cannot close (the fixed windows).
    [[nodiscard]] bool activeIsFixed() const;
    void closeAll();
    void bringToFront(DocumentFrame *frame);

    // Open windows by number, for the "&Window" menu.
    [[nodiscard]] std::vector<WindowEntry> windows() const;
    [[nodiscard]] const lumivar::WindowRegistry &registry() const { return registry_; }
    [[nodiscard]] DocumentFrame *frameOf(int docId) const;

signals:
    // A window opened, closed or was renumbered.
    void windowsChanged();

private:
    DocumentFrame *ensureFrame(int docId);
    ListWindow *fixedWindow(std::optional<int> docId, const char *failure);
    bool mayClose(int docId);
    void hideFixedCloseButtons();

    QNetworkAccessManager &network_;
    std::function<void(const QString &)> messageBox_;
    lumivar::WindowRegistry registry_;
    std::map<int, DocumentFrame *> frames_;
    // The context of the frames' connections. Not this area itself: the
    // MDI area cuts every connection from a sub-window to itself when the
    // sub-window closes, and this one must see the window go.
    std::unique_ptr<QObject> frameWatch_;
};

} // namespace lumivarui
