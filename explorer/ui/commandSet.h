// Every command of the main window in one place: the QActions with their
// texts, prompts and accelerators (built once), the main menu, the context
// menus and the tool bar made from them, their enabling in one
// updateActions() that asks the model's rules, and their dispatch to the
// model. Nothing here decides what a command does to a device; the model
// does.
#pragma once

#include "explorerLinks.h"

#include "infoRows.h"
#include "qnSdkApi.h"

#include <QObject>
#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QToolBar;

namespace lumivar {
class UserPrompts;
}

namespace lumivarui {

class DocumentArea;
class HelpViewer;
class OperationRunner;

enum class Command {
    CLOSE,
    EXIT,
    UNDO,
    CUT,
    COPY,
    PASTE,
    VIEW_INFORMATION,
    VIEW_EVENT,
    VIEW_TOOLBAR,
    VIEW_STATUS_BAR,
    DISCOVER,
    EXECUTE_ACTION,
    QUERY_VARIABLE,
    WALK_VARIABLES,
    SUBSCRIBE,
    UNSUBSCRIBE,
    SHOW_SUBSCRIPTIONS,
    SET_VALUE,
    RETRIEVE_XML,
    VISIT,
    LOAD_XML_FILE,
    UNLOAD_XML_FILE,
    START_MONITOR,
    STOP_MONITOR,
    RUN_VIRTUAL_DEVICE,
    STOP_VIRTUAL_DEVICE,
    SETTINGS,
    CASCADE,
    TILE,
    CLOSE_ALL,
    HELP_CONTENTS,
    HELP_INDEX,
    HOME,
    ABOUT,
    FILE_VIEW_LOAD,   // "Load XML File..." of the File View's menu
    FILE_VIEW_UNLOAD, // "Unload XML File" of the File View's menu
    COUNT
};

class CommandSet : public QObject {
    Q_OBJECT
public:
    // What the commands act on; all owned by the main window.
    struct Parts {
        QMainWindow *window = nullptr;
        DocumentArea *documents = nullptr;
        QToolBar *toolBar = nullptr;
        OperationRunner *runner = nullptr;
        std::function<uint64_t()> selectedNode;         // the device tree's selection, 0 none
        std::function<uint64_t()> selectedFileViewNode; // the File View's, as a device tree node
    };

    CommandSet(const ExplorerLinks &links, lumivar::UserPrompts &prompts, Parts parts, QObject *parent = nullptr);
    ~CommandSet() override;

    [[nodiscard]] QAction *action(Command command) const { return actions_[static_cast<size_t>(command)]; }

    void buildMenus(QMenuBar *bar);
    void fillToolBar(QToolBar *bar);
    [[nodiscard]] QMenu *deviceTreeMenu() const { return deviceMenu_; }
    [[nodiscard]] QMenu *fileViewMenu() const { return fileMenu_; }
    [[nodiscard]] QMenu *windowMenu() const { return windowMenu_; }

    // Enables every command for the selections, the active window, the
    // explorer's and monitor's state and a running operation.
    void updateActions();

    // Lays an operation's rows into the Information window; nothing for
    // empty rows (a message box stopped the operation).
    void showRows(const lumivar::InfoRows &rows);
    // Refills the Event window for the device control point entity.
    void refreshEventWindow(QN_ENTITY entity);

private:
    void build();
    void dispatch(Command command);
    bool runWindowCommand(Command command);
    void runDeviceCommand(Command command, uint64_t node);
    void runOnWorker(std::function<lumivar::InfoRows()> work);
    void editCommand(Command command);
    void openUrlOf(Command command, uint64_t node);
    void loadXmlFile();
    void showHelp(const char *page);
    void rebuildWindowMenu();
    [[nodiscard]] bool ruleAllows(Command command, uint64_t node) const;

    const ExplorerLinks &links_;
    lumivar::UserPrompts &prompts_;
    Parts parts_;
    std::array<QAction *, static_cast<size_t>(Command::COUNT)> actions_{};
    QMenu *deviceMenu_ = nullptr;
    QMenu *fileMenu_ = nullptr;
    QMenu *windowMenu_ = nullptr;
    QPointer<HelpViewer> help_;
};

} // namespace lumivarui
