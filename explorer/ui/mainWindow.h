// Lumivar's main window "Lumiscope": the tabbed document area (the
// Information, Event and XML windows), the "Workspace" bar with the
// "Device Explorer" and "File View" trees and the "Active Control Points"
// list, the "Output" bar with its "Event", "Log" and "Debug" pages, the
// hidden "ToolBar" and the status bar. The bars' layout is kept in the
// profile and comes back at the next start.
#pragma once

#include "explorerLinks.h"

#include <QMainWindow>

#include <memory>

class QLabel;
class QNetworkAccessManager;
class QStandardItemModel;
class QTabWidget;
class QToolBar;
class QTreeView;

namespace guikit {
class ContextTreeView;
}

namespace lumivar {
class UserPrompts;
}

namespace lumivarui {

class CommandSet;
class DocumentArea;
class DocumentTreeModel;
class NotificationPump;
class OperationRunner;
class OutputPane;

inline constexpr char kReadyText[] = "Ready";

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // links and prompts must outlive the window.
    MainWindow(const ExplorerLinks &links, lumivar::UserPrompts &prompts, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The rest of the start-up: the Information and then the Event window,
    // the stored layout, the window shown with the Information window in
    // front, and the notifications flowing.
    void open();

    [[nodiscard]] CommandSet &commands() { return *commands_; }
    [[nodiscard]] DocumentArea &documents() { return *documents_; }
    [[nodiscard]] guikit::ContextTreeView &deviceView() { return *deviceView_; }
    [[nodiscard]] guikit::ContextTreeView &fileView() { return *fileView_; }
    [[nodiscard]] DocumentTreeModel &deviceModel() { return *deviceModel_; }
    [[nodiscard]] OperationRunner &runner() { return *runner_; }
    [[nodiscard]] NotificationPump &pump() { return *pump_; }
    [[nodiscard]] OutputPane &outputPage(int index) const; // 0 "Event", 1 "Log", 2 "Debug"
    [[nodiscard]] QToolBar &toolBar() { return *toolBar_; }

    // Selects the device tree's node id (0: none) as a click would.
    void selectNode(uint64_t id);
    [[nodiscard]] uint64_t selectedNode() const;

signals:
    // The window is closing: the application stops the stack's server loop.
    void closing();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWorkspace();
    void buildOutput();
    void buildStatusBar();
    void connectModel();
    [[nodiscard]] uint64_t selectedFileViewNode() const;
    void refreshMonitor();
    void expandAll(QTreeView *view, const QList<QModelIndex> &indexes);
    void queueMessage(const QString &text);

    const ExplorerLinks &links_;
    lumivar::UserPrompts &prompts_;
    std::unique_ptr<QNetworkAccessManager> network_;
    DocumentArea *documents_ = nullptr;
    DocumentTreeModel *deviceModel_ = nullptr;
    DocumentTreeModel *fileModel_ = nullptr;
    QStandardItemModel *monitorModel_ = nullptr;
    guikit::ContextTreeView *deviceView_ = nullptr;
    guikit::ContextTreeView *fileView_ = nullptr;
    QTreeView *monitorView_ = nullptr;
    QTabWidget *workspacePages_ = nullptr;
    QTabWidget *outputTabs_ = nullptr;
    QToolBar *toolBar_ = nullptr;
    OperationRunner *runner_ = nullptr;
    NotificationPump *pump_ = nullptr;
    CommandSet *commands_ = nullptr;
    bool closed_ = false;
    // Messages the stack's handlers queued, shown one at a time.
    QStringList pendingMessages_;
    bool showingMessage_ = false;
};

} // namespace lumivarui
