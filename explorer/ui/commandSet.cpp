#include "commandSet.h"

#include "aboutDialog.h"
#include "documentArea.h"
#include "documentFrame.h"
#include "helpViewer.h"
#include "listWindow.h"
#include "operationRunner.h"
#include "productInfo.h"

#include "commandRules.h"
#include "controlPointMonitor.h"
#include "deviceExplorer.h"
#include "deviceOperations.h"
#include "eventRows.h"
#include "selectionContext.h"
#include "userPrompts.h"
#include "virtualDevices.h"
#include "windowRegistry.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QMainWindow>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include <optional>

namespace lumivarui {

namespace {

using lumivar::DeviceCommand;

// A command's menu text and its prompt: the status-bar text before "\n",
// the tool tip after it.
struct CommandText {
    Command command;
    const char *text;
    const char *prompt;
};

constexpr CommandText kCommandTexts[] = {
    {Command::CLOSE, "&Close", "Close the active window\nClose"},
    {Command::EXIT, "E&xit", "Quit the application\nExit"},
    {Command::UNDO, "&Undo\tCtrl+Z", "Undo the last action\nUndo"},
    {Command::CUT, "Cu&t\tCtrl+X", "Cut the selection and put it on the Clipboard\nCut"},
    {Command::COPY, "&Copy\tCtrl+C", "Copy the selection and put it on the Clipboard\nCopy"},
    {Command::PASTE, "&Paste\tCtrl+V", "Insert Clipboard contents\nPaste"},
    {Command::VIEW_INFORMATION, "&Information", "Show or hide the information window\nToggle Info Window"},
    {Command::VIEW_EVENT, "&Event", "Show or hide the event window\nToggle Event Window"},
    {Command::VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar"},
    {Command::VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar"},
    {Command::DISCOVER, "Discover", "Send SSDP\nSend SSDP to discover UPnP device"},
    {Command::EXECUTE_ACTION, "&Execute Action", "Execute action\nSend soap request to device to execute action"},
    {Command::QUERY_VARIABLE, "&Query Variable",
     "Query Variable\nSend soap request to device to query value of variable"},
    {Command::WALK_VARIABLES, "&Walk Variables", ""},
    {Command::SUBSCRIBE, "Subscribe", "Subscribe event\nSubscribe event"},
    {Command::UNSUBSCRIBE, "Unsubscribe", "Unsubscribe event\nUnsubscribe event"},
    {Command::SHOW_SUBSCRIPTIONS, "Show Subcriptoins", "Show Subcriptions\nShow subcription infomation of devices"},
    {Command::SET_VALUE, "Set Value", "Set Argument Value\nSet Value of Action Argument"},
    {Command::RETRIEVE_XML, "Retrieve XML", "Retrieve XML file\nRetrieve XML file from UPnP device"},
    {Command::VISIT, "Visit", "Visit web site\nVisit Internet web site or device presentation web server"},
    {Command::LOAD_XML_FILE, "L&oad XML File...\tCtrl+O",
     "Open and parse local UPnP XML descripton file(s)\nLoad XML file(s)"},
    {Command::UNLOAD_XML_FILE, "Unload XML File", "Unload the selected XML file\nUnload XML file"},
    {Command::START_MONITOR, "Start Control Point Monitor",
     "Start listing the control points that search the network\nStart Control Point Monitor"},
    {Command::STOP_MONITOR, "Stop Control Point Monitor",
     "Stop listing the control points that search the network\nStop Control Point Monitor"},
    {Command::RUN_VIRTUAL_DEVICE, "Run virtual device",
     "Run the selected XML file as a virtual device on the network\nRun virtual device"},
    {Command::STOP_VIRTUAL_DEVICE, "Stop virtual device",
     "Stop the selected virtual device\nStop virtual device"},
    {Command::SETTINGS, "Settings...", "Settings are edited in Zentrova.ini\nSettings"},
    {Command::CASCADE, "&Cascade", "Arrange windows so they overlap\nCascade Windows"},
    {Command::TILE, "&Tile", "Arrange windows as non-overlapping tiles\nTile Windows"},
    {Command::CLOSE_ALL, "Close All", "Close all opened windows\nClose All"},
    {Command::HELP_CONTENTS, "&Contents", "Displays the contents of the online documentation\nHelp Index"},
    {Command::HELP_INDEX, "&Index...", "Displays the index of the online documentation\nHelp Index"},
    {Command::HOME, "Corvanta &Home", "Visit the Corvanta home page\nCorvanta Home"},
    {Command::ABOUT, "&About Corvanta Lumiscope...",
     "Display program information, version number and build date\nAbout"},
    {Command::FILE_VIEW_LOAD, "Load XML File...",
     "Open and parse local UPnP XML descripton file(s)\nLoad XML file(s)"},
    {Command::FILE_VIEW_UNLOAD, "Unload XML File", "Unload the selected XML file\nUnload XML file"},
};

// The model's rule that enables a device command, or none for the
// window's own commands.
std::optional<DeviceCommand> ruleOf(Command c)
{
    switch (c) {
    case Command::DISCOVER: return DeviceCommand::DISCOVER;
    case Command::EXECUTE_ACTION: return DeviceCommand::EXECUTE_ACTION;
    case Command::QUERY_VARIABLE: return DeviceCommand::QUERY_VARIABLE;
    case Command::WALK_VARIABLES: return DeviceCommand::WALK_VARIABLES;
    case Command::SUBSCRIBE: return DeviceCommand::SUBSCRIBE;
    case Command::UNSUBSCRIBE: return DeviceCommand::UNSUBSCRIBE;
    case Command::SHOW_SUBSCRIPTIONS: return DeviceCommand::SHOW_SUBSCRIPTIONS;
    case Command::SET_VALUE: return DeviceCommand::SET_VALUE;
    case Command::RETRIEVE_XML: return DeviceCommand::RETRIEVE_XML;
    case Command::VISIT: return DeviceCommand::VISIT;
    case Command::LOAD_XML_FILE:
    case Command::FILE_VIEW_LOAD: return DeviceCommand::LOAD_XML_FILE;
    case Command::UNLOAD_XML_FILE:
    case Command::FILE_VIEW_UNLOAD: return DeviceCommand::UNLOAD_XML_FILE;
    case Command::START_MONITOR: return DeviceCommand::START_MONITOR;
    case Command::STOP_MONITOR: return DeviceCommand::STOP_MONITOR;
    case Command::RUN_VIRTUAL_DEVICE: return DeviceCommand::RUN_VIRTUAL_DEVICE;
    case Command::STOP_VIRTUAL_DEVICE: return DeviceCommand::STOP_VIRTUAL_DEVICE;
    default: return std::nullopt;
    }
}

// Commands that wait on the network: one at a time, on a worker.
bool waitsOnNetwork(Command c)
{
    return c == Command::DISCOVER || c == Command::EXECUTE_ACTION || c == Command::QUERY_VARIABLE ||
           c == Command::SUBSCRIBE || c == Command::UNSUBSCRIBE;
}

QList<QKeySequence> shortcutsOf(Command c)
{
    switch (c) {
    case Command::UNDO: return {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)};
    case Command::CUT: return {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)};
    case Command::COPY: return {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)};
    case Command::PASTE: return {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)};
    case Command::LOAD_XML_FILE: return {QKeySequence(Qt::CTRL | Qt::Key_O)};
    default: return {};
    }
}

const char *themeIconOf(Command c)
{
    switch (c) {
    case Command::DISCOVER: return "system-search";
    case Command::EXECUTE_ACTION: return "system-run";
    case Command::QUERY_VARIABLE: return "dialog-question";
    case Command::SUBSCRIBE: return "mail-mark-important";
    case Command::RETRIEVE_XML: return "text-xml";
    case Command::LOAD_XML_FILE: return "document-open";
    case Command::CLOSE: return "window-close";
    case Command::EXIT: return "application-exit";
    case Command::UNDO: return "edit-undo";
    case Command::CUT: return "edit-cut";
    case Command::COPY: return "edit-copy";
    case Command::PASTE: return "edit-paste";
    case Command::HELP_CONTENTS: return "help-contents";
    case Command::ABOUT: return "help-about";
    default: return nullptr;
    }
}

bool editable(const QWidget *w)
{
    if (w == nullptr)
        return false;
    QVariant readOnly = w->property("readOnly");
    return w->metaObject()->indexOfSlot("paste()") >= 0 && readOnly.isValid() && !readOnly.toBool();
}

} // namespace

CommandSet::CommandSet(const ExplorerLinks &links, lumivar::UserPrompts &prompts, Parts parts, QObject *parent)
    : QObject(parent), links_(links), prompts_(prompts), parts_(std::move(parts))
{
    build();
}

CommandSet::~CommandSet() = default;

void CommandSet::build()
{
    for (const CommandText &t : kCommandTexts) {
        auto *a = new QAction(QString::fromLatin1(t.text), parts_.window);
        QString prompt = QString::fromLatin1(t.prompt);
        qsizetype cut = prompt.indexOf(QLatin1Char('\n'));
        a->setStatusTip(cut >= 0 ? prompt.left(cut) : prompt);
        if (cut >= 0)
            a->setToolTip(prompt.mid(cut + 1));
        QList<QKeySequence> keys = shortcutsOf(t.command);
        if (!keys.isEmpty()) {
            a->setShortcuts(keys);
            a->setShortcutContext(Qt::WindowShortcut);
            parts_.window->addAction(a); // active even while the menu bar is hidden
        }
        if (const char *icon = themeIconOf(t.command))
            a->setIcon(QIcon::fromTheme(QString::fromLatin1(icon)));
        Command c = t.command;
        connect(a, &QAction::triggered, this, [this, c] { dispatch(c); });
        actions_[static_cast<size_t>(c)] = a;
    }
    action(Command::VIEW_TOOLBAR)->setCheckable(true);
    action(Command::VIEW_STATUS_BAR)->setCheckable(true);
    action(Command::VIEW_STATUS_BAR)->setChecked(true);
    action(Command::EXIT)->setMenuRole(QAction::QuitRole);
    action(Command::ABOUT)->setMenuRole(QAction::AboutRole);
    // The settings are edited in the profile by hand; the command stays for
    // users who look for it, greyed like every command without an effect.
    action(Command::SETTINGS)->setEnabled(false);

    deviceMenu_ = new QMenu(parts_.window);
    for (Command c : {Command::DISCOVER, Command::EXECUTE_ACTION, Command::QUERY_VARIABLE, Command::WALK_VARIABLES,
                      Command::SUBSCRIBE, Command::UNSUBSCRIBE})
        deviceMenu_->addAction(action(c));
    deviceMenu_->addSeparator();
    for (Command c : {Command::SHOW_SUBSCRIPTIONS, Command::SET_VALUE, Command::RETRIEVE_XML, Command::VISIT})
        deviceMenu_->addAction(action(c));
    deviceMenu_->addSeparator();
    for (Command c : {Command::START_MONITOR, Command::RUN_VIRTUAL_DEVICE, Command::STOP_VIRTUAL_DEVICE})
        deviceMenu_->addAction(action(c));
    fileMenu_ = new QMenu(parts_.window);
    fileMenu_->addAction(action(Command::FILE_VIEW_LOAD));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action(Command::FILE_VIEW_UNLOAD));
    for (QMenu *m : {deviceMenu_, fileMenu_})
        connect(m, &QMenu::aboutToShow, this, &CommandSet::updateActions);
}

void CommandSet::buildMenus(QMenuBar *bar)
{
    auto menu = [&](const char *title, std::initializer_list<std::optional<Command>> items) {
        QMenu *m = bar->addMenu(QString::fromLatin1(title));
        for (const auto &item : items) {
            if (item)
                m->addAction(action(*item));
            else
                m->addSeparator();
        }
        connect(m, &QMenu::aboutToShow, this, &CommandSet::updateActions);
        return m;
    };
    // What a document application's File menu would also hold (new, open,
    // save, print, recent files) has no meaning here and is never offered.
    menu("&File", {Command::CLOSE, std::nullopt, Command::EXIT});
    menu("&Edit", {Command::UNDO, std::nullopt, Command::CUT, Command::COPY, Command::PASTE});
    menu("&View", {Command::VIEW_INFORMATION, Command::VIEW_EVENT, std::nullopt, Command::VIEW_TOOLBAR,
                   Command::VIEW_STATUS_BAR});
    menu("&UPnP", {Command::DISCOVER, Command::EXECUTE_ACTION, Command::QUERY_VARIABLE, std::nullopt,
                   Command::SUBSCRIBE, Command::UNSUBSCRIBE, Command::SHOW_SUBSCRIPTIONS, std::nullopt,
                   Command::SET_VALUE, std::nullopt, Command::RETRIEVE_XML, Command::VISIT, std::nullopt,
                   Command::LOAD_XML_FILE, Command::UNLOAD_XML_FILE, std::nullopt, Command::START_MONITOR,
                   Command::STOP_MONITOR});
    menu("&Tools", {Command::SETTINGS});
    windowMenu_ = menu("&Window", {});
    connect(windowMenu_, &QMenu::aboutToShow, this, &CommandSet::rebuildWindowMenu);
    rebuildWindowMenu();
    menu("&Help", {Command::HELP_CONTENTS, Command::HELP_INDEX, std::nullopt, Command::HOME, std::nullopt,
                   Command::ABOUT});
}

void CommandSet::fillToolBar(QToolBar *bar)
{
    for (Command c : {Command::LOAD_XML_FILE, Command::DISCOVER, Command::EXECUTE_ACTION, Command::QUERY_VARIABLE,
                      Command::SUBSCRIBE, Command::RETRIEVE_XML})
        bar->addAction(action(c));
    bar->addSeparator();
    bar->addAction(action(Command::ABOUT));
}

// The list of open windows, numbered as the registry numbers them.
void CommandSet::rebuildWindowMenu()
{
    windowMenu_->clear();
    for (Command c : {Command::CASCADE, Command::TILE, Command::CLOSE_ALL})
        windowMenu_->addAction(action(c));
    if (parts_.documents == nullptr)
        return;
    std::vector<WindowEntry> open = parts_.documents->windows();
    if (!open.empty())
        windowMenu_->addSeparator();
    QMdiSubWindow *active = parts_.documents->activeSubWindow();
    for (const WindowEntry &w : open) {
        QAction *a = windowMenu_->addAction(QStringLiteral("&%1 %2").arg(w.number).arg(w.title));
        a->setCheckable(true);
        a->setChecked(w.frame == active);
        DocumentFrame *frame = w.frame;
        connect(a, &QAction::triggered, this, [this, frame] { parts_.documents->bringToFront(frame); });
    }
}

void CommandSet::updateActions()
{
    lumivar::CommandState state;
    state.explorerRunning = links_.explorer != nullptr && links_.explorer->running();
    state.monitorRunning = links_.monitor != nullptr && links_.monitor->running();
    uint64_t treeNode = parts_.selectedNode ? parts_.selectedNode() : 0;
    uint64_t fileNode = parts_.selectedFileViewNode ? parts_.selectedFileViewNode() : 0;
    lumivar::SelectionContext treeCtx, fileCtx;
    if (links_.readTree)
        links_.readTree([&](const lumivar::DeviceTree &tree) {
            treeCtx = lumivar::selectionContextOf(tree, treeNode);
            fileCtx = lumivar::selectionContextOf(tree, fileNode);
        });
    bool busy = parts_.runner != nullptr && parts_.runner->busy();
    for (size_t i = 0; i < actions_.size(); ++i) {
        auto c = static_cast<Command>(i);
        std::optional<DeviceCommand> rule = ruleOf(c);
        if (!rule)
            continue;
        const lumivar::SelectionContext &ctx =
            (c == Command::FILE_VIEW_LOAD || c == Command::FILE_VIEW_UNLOAD) ? fileCtx : treeCtx;
        actions_[i]->setEnabled(lumivar::isCommandEnabled(*rule, ctx, state) && !(busy && waitsOnNetwork(c)));
    }
    action(Command::CLOSE)->setEnabled(parts_.documents != nullptr && !parts_.documents->activeIsFixed());
    bool haveWindows = parts_.documents != nullptr && !parts_.documents->subWindowList().isEmpty();
    action(Command::CASCADE)->setEnabled(haveWindows);
    action(Command::TILE)->setEnabled(haveWindows);
    QWidget *focus = QApplication::focusWidget();
    bool canEdit = editable(focus);
    action(Command::UNDO)->setEnabled(canEdit);
    action(Command::CUT)->setEnabled(canEdit);
    action(Command::PASTE)->setEnabled(canEdit);
    action(Command::COPY)->setEnabled(focus != nullptr && (focus->metaObject()->indexOfSlot("copy()") >= 0 ||
                                                           qobject_cast<QAbstractItemView *>(focus) != nullptr));
    // The check marks follow the bars, however they were shown or hidden.
    if (parts_.window != nullptr)
        action(Command::VIEW_STATUS_BAR)->setChecked(!parts_.window->statusBar()->isHidden());
    if (parts_.toolBar != nullptr)
        action(Command::VIEW_TOOLBAR)->setChecked(!parts_.toolBar->isHidden());
}

void CommandSet::dispatch(Command command)
{
    // A command chosen by its accelerator skipped the menu's update.
    updateActions();
    if (!action(command)->isEnabled())
        return;
    if (!runWindowCommand(command)) {
        if (command == Command::FILE_VIEW_LOAD)
            loadXmlFile();
        else if (command == Command::FILE_VIEW_UNLOAD)
            runDeviceCommand(Command::UNLOAD_XML_FILE, parts_.selectedFileViewNode ? parts_.selectedFileViewNode() : 0);
        else
            runDeviceCommand(command, parts_.selectedNode ? parts_.selectedNode() : 0);
    }
    updateActions();
}

// The commands of the window itself; false for the device commands.
bool CommandSet::runWindowCommand(Command command)
{
    DocumentArea *docs = parts_.documents;
    QStatusBar *status = parts_.window->statusBar();
    switch (command) {
    case Command::CLOSE:
        if (QMdiSubWindow *active = docs->activeSubWindow())
            active->close();
        return true;
    case Command::EXIT:
        parts_.window->close();
        return true;
    case Command::UNDO:
    case Command::CUT:
    case Command::COPY:
    case Command::PASTE:
        editCommand(command);
        return true;
    case Command::VIEW_INFORMATION:
        docs->showInformationWindow();
        return true;
    case Command::VIEW_EVENT:
        docs->showEventWindow();
        return true;
    case Command::VIEW_TOOLBAR:
        parts_.toolBar->setVisible(parts_.toolBar->isHidden());
        return true;
    case Command::VIEW_STATUS_BAR:
        status->setVisible(status->isHidden());
        return true;
    case Command::CASCADE:
    case Command::TILE:
        // Arranged windows need the window view; maximising one of them
        // brings the tabs back.
        docs->setViewMode(QMdiArea::SubWindowView);
        command == Command::CASCADE ? docs->cascadeSubWindows() : docs->tileSubWindows();
        return true;
    case Command::CLOSE_ALL:
        docs->closeAll();
        return true;
    case Command::HELP_CONTENTS:
    case Command::HELP_INDEX:
        showHelp(command == Command::HELP_CONTENTS ? kHelpContentsPage : kHelpIndexPage);
        return true;
    case Command::HOME:
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHomePageUrl)));
        return true;
    case Command::ABOUT: {
        AboutDialog about(parts_.window);
        about.exec();
        return true;
    }
    default:
        return false;
    }
}

void CommandSet::runDeviceCommand(Command command, uint64_t node)
{
    lumivar::DeviceOperations *ops = links_.operations;
    lumivar::VirtualDevices *vdev = links_.virtualDevices;
    lumivar::ControlPointMonitor *monitor = links_.monitor;
    switch (command) {
    case Command::DISCOVER:
        if (ops != nullptr)
            runOnWorker([ops, node] { return ops->discover(node); });
        break;
    case Command::EXECUTE_ACTION:
        if (ops != nullptr)
            runOnWorker([ops, node] { return ops->executeAction(node); });
        break;
    case Command::QUERY_VARIABLE:
        if (ops != nullptr)
            runOnWorker([ops, node] { return ops->queryVariable(node); });
        break;
    case Command::SUBSCRIBE:
    case Command::UNSUBSCRIBE: {
        bool on = command == Command::SUBSCRIBE;
        if (ops != nullptr)
            runOnWorker([ops, node, on] { return ops->subscribe(node, on); });
        break;
    }
    case Command::SHOW_SUBSCRIPTIONS:
        if (ops != nullptr)
            showRows(ops->showSubscription(node));
        break;
    case Command::SET_VALUE:
        if (ops != nullptr)
            ops->setValue(node); // the modal dialog: on this thread
        break;
    case Command::RETRIEVE_XML:
    case Command::VISIT:
        openUrlOf(command, node);
        break;
    case Command::LOAD_XML_FILE:
        loadXmlFile();
        break;
    case Command::UNLOAD_XML_FILE:
        if (vdev != nullptr)
            vdev->unloadXmlFile(node);
        break;
    case Command::RUN_VIRTUAL_DEVICE:
    case Command::STOP_VIRTUAL_DEVICE:
        if (vdev != nullptr)
            vdev->runVirtualDevice(node, command == Command::RUN_VIRTUAL_DEVICE);
        break;
    case Command::START_MONITOR:
    case Command::STOP_MONITOR:
        if (monitor != nullptr)
            monitor->startMonitor(command == Command::START_MONITOR);
        break;
    default:
        break; // "&Walk Variables", "Settings...": no effect
    }
}

void CommandSet::runOnWorker(std::function<lumivar::InfoRows()> work)
{
    if (parts_.runner == nullptr)
        return;
    parts_.runner->run(std::move(work), [this](const lumivar::InfoRows &rows) {
        showRows(rows);
        updateActions();
    });
}

void CommandSet::openUrlOf(Command command, uint64_t node)
{
    std::string url;
    links_.readTree([&](const lumivar::DeviceTree &tree) {
        url = command == Command::RETRIEVE_XML ? lumivar::retrieveXmlUrl(tree, node) : lumivar::visitUrl(tree, node);
    });
    if (url.empty()) {
        if (command == Command::RETRIEVE_XML)
            prompts_.messageBox(lumivar::kNoXmlUrl);
        return;
    }
    parts_.documents->openUrl(QString::fromStdString(url));
}

void CommandSet::loadXmlFile()
{
    std::optional<std::string> path = prompts_.chooseOpenFile(lumivar::kXmlFileFilter);
    if (path && links_.virtualDevices != nullptr)
        links_.virtualDevices->loadXmlFile(*path);
}

void CommandSet::editCommand(Command command)
{
    QWidget *focus = QApplication::focusWidget();
    if (focus == nullptr)
        return;
    const char *slot = command == Command::UNDO  ? "undo"
                       : command == Command::CUT ? "cut"
                       : command == Command::COPY ? "copy"
                                                  : "paste";
    if (focus->metaObject()->indexOfSlot((QByteArray(slot) + "()").constData()) >= 0) {
        QMetaObject::invokeMethod(focus, slot);
        return;
    }
    // A tree copies the text of its current item.
    if (auto *view = qobject_cast<QAbstractItemView *>(focus); view != nullptr && command == Command::COPY)
        QGuiApplication::clipboard()->setText(view->currentIndex().data().toString());
}

void CommandSet::showHelp(const char *page)
{
    if (help_ == nullptr)
        help_ = new HelpViewer(parts_.window);
    if (!help_->showPage(QString::fromLatin1(page))) {
        prompts_.messageBox(std::string("Unable to open help file ") + page + "!");
        return;
    }
    help_->show();
    help_->raise();
    help_->activateWindow();
}

void CommandSet::showRows(const lumivar::InfoRows &rows)
{
    if (rows.empty() || parts_.documents == nullptr)
        return;
    ListWindow *list = parts_.documents->informationWindow(true);
    if (list == nullptr)
        return;
    std::vector<RowsColumn> columns;
    for (const lumivar::InfoColumn &c : rows.columns)
        columns.push_back({QString::fromStdString(c.title), c.width});
    list->rows().reset(std::move(columns), rows.rows);
    parts_.documents->showInformationWindow();
}

void CommandSet::refreshEventWindow(QN_ENTITY entity)
{
    ListWindow *list = parts_.documents != nullptr ? parts_.documents->eventWindow(false) : nullptr;
    if (list == nullptr || links_.explorer == nullptr)
        return;
    std::vector<QStringList> rows;
    for (const lumivar::EventRow &r : lumivar::eventRowsOf(entity, links_.explorer->eventTable()))
        rows.push_back({QString::fromStdString(r.device), QString::fromStdString(r.service),
                        QString::fromStdString(r.variable), QString::fromStdString(r.value),
                        QString::fromStdString(r.time)});
    std::vector<RowsColumn> columns;
    for (const lumivar::ListColumn &c : lumivar::initialColumns(lumivar::kEventTitle))
        columns.push_back({QString::fromUtf8(c.title), c.width});
    list->rows().reset(std::move(columns), std::move(rows));
}

} // namespace lumivarui
