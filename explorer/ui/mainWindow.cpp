#include "mainWindow.h"

#include "commandSet.h"
#include "documentArea.h"
#include "documentTreeModel.h"
#include "layoutStore.h"
#include "nodeIcons.h"
#include "notificationPump.h"
#include "operationRunner.h"
#include "outputPane.h"
#include "productInfo.h"

#include "contextTreeView.h"
#include "lockIndicators.h"
#include "paneCycler.h"

#include "controlPointMonitor.h"
#include "fileView.h"
#include "userPrompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>

namespace lumivarui {

namespace {

constexpr int kDefaultWidth = 1100;
constexpr int kDefaultHeight = 760;
constexpr int kWorkspaceWidth = 340;
constexpr int kOutputHeight = 170;
constexpr char kActiveControlPointsText[] = "Active Control Points";

guikit::ContextTreeView *makeTree(QWidget *parent, QAbstractItemModel *model)
{
    auto *view = new guikit::ContextTreeView(parent);
    view->setModel(model);
    view->setHeaderHidden(true);
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->header()->setStretchLastSection(false);
    return view;
}

} // namespace

MainWindow::MainWindow(const ExplorerLinks &links, lumivar::UserPrompts &prompts, QWidget *parent)
    : QMainWindow(parent), links_(links), prompts_(prompts), network_(std::make_unique<QNetworkAccessManager>())
{
    setObjectName(QString::fromLatin1(kMainWindowTitle));
    setWindowTitle(QString::fromLatin1(kMainWindowTitle));
    setWindowIcon(programIcon());
    resize(kDefaultWidth, kDefaultHeight);
    // Descriptions come from devices of the local network, which a proxy
    // of the user's environment cannot reach.
    network_->setProxy(QNetworkProxy::NoProxy);

    documents_ = new DocumentArea(
        *network_, [this](const QString &text) { prompts_.messageBox(text.toStdString()); }, this);
    setCentralWidget(documents_);
    runner_ = new OperationRunner(this);

    toolBar_ = addToolBar(QStringLiteral("ToolBar"));
    toolBar_->setObjectName(QStringLiteral("ToolBar"));
    toolBar_->hide();

    buildWorkspace();
    buildOutput();

    CommandSet::Parts parts;
    parts.window = this;
    parts.documents = documents_;
    parts.toolBar = toolBar_;
    parts.runner = runner_;
    parts.selectedNode = [this] { return selectedNode(); };
    parts.selectedFileViewNode = [this] { return selectedFileViewNode(); };
    commands_ = new CommandSet(links_, prompts_, std::move(parts), this);
    commands_->buildMenus(menuBar());
    commands_->fillToolBar(toolBar_);
    buildStatusBar();
    connectModel();

    new guikit::PaneCycler(this, [this] {
        QWidget *page = workspacePages_->currentWidget();
        QMdiSubWindow *active = documents_->activeSubWindow();
        return QList<QWidget *>{page, monitorView_, active != nullptr ? active->widget() : nullptr,
                                outputTabs_->currentWidget()};
    });
}

MainWindow::~MainWindow()
{
    runner_->wait();
    pump_->stop();
    // Taking the widgets down activates and hides windows; the commands
    // must not look at a window half gone.
    delete commands_;
    commands_ = nullptr;
}

void MainWindow::buildWorkspace()
{
    deviceModel_ = new DocumentTreeModel(links_.readTree, this);
    fileModel_ = new DocumentTreeModel(links_.readFileView, this);
    monitorModel_ = new QStandardItemModel(this);
    auto *root = new QStandardItem(nodeIcon(lumivar::NI_FOLDER, 0), QString::fromLatin1(kActiveControlPointsText));
    root->setEditable(false);
    monitorModel_->appendRow(root);

    auto *dock = new QDockWidget(QStringLiteral("Workspace"), this);
    dock->setObjectName(QStringLiteral("Workspace"));
    auto *split = new QSplitter(Qt::Vertical, dock);
    auto *pages = new QTabWidget(split);
    workspacePages_ = pages;
    pages->setTabPosition(QTabWidget::South);
    deviceView_ = makeTree(pages, deviceModel_);
    fileView_ = makeTree(pages, fileModel_);
    pages->addTab(deviceView_, QStringLiteral("Device Explorer"));
    pages->addTab(fileView_, QStringLiteral("File View"));
    monitorView_ = new QTreeView(split);
    monitorView_->setModel(monitorModel_);
    monitorView_->setHeaderHidden(true);
    monitorView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    split->addWidget(pages);
    split->addWidget(monitorView_);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    dock->setWidget(split);
    addDockWidget(Qt::LeftDockWidgetArea, dock);
    resizeDocks({dock}, {kWorkspaceWidth}, Qt::Horizontal);

    connect(deviceModel_, &DocumentTreeModel::expandWanted, this,
            [this](const QList<QModelIndex> &indexes) { expandAll(deviceView_, indexes); });
    connect(fileModel_, &DocumentTreeModel::expandWanted, this,
            [this](const QList<QModelIndex> &indexes) { expandAll(fileView_, indexes); });
    connect(deviceView_, &guikit::ContextTreeView::contextMenuWanted, this,
            [this](const QPoint &at) { commands_->deviceTreeMenu()->popup(at); });
    connect(fileView_, &guikit::ContextTreeView::contextMenuWanted, this,
            [this](const QPoint &at) { commands_->fileViewMenu()->popup(at); });
    for (QTreeView *view : {static_cast<QTreeView *>(deviceView_), static_cast<QTreeView *>(fileView_)})
        connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this] { commands_->updateActions(); });
}

void MainWindow::buildOutput()
{
    auto *dock = new QDockWidget(QStringLiteral("Output"), this);
    dock->setObjectName(QStringLiteral("Output"));
    outputTabs_ = new QTabWidget(dock);
    outputTabs_->setTabPosition(QTabWidget::South);
    for (const char *title : {"Event", "Log", "Debug"})
        outputTabs_->addTab(new OutputPane(outputTabs_), QString::fromLatin1(title));
    dock->setWidget(outputTabs_);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    resizeDocks({dock}, {kOutputHeight}, Qt::Vertical);
}

void MainWindow::buildStatusBar()
{
    // The prompt pane: "Ready" while idle; a highlighted command's prompt
    // covers it (a status tip is a temporary message of the bar).
    auto *ready = new QLabel(QString::fromLatin1(kReadyText), statusBar());
    ready->setObjectName(QStringLiteral("prompt"));
    statusBar()->addWidget(ready, 1);
    statusBar()->addPermanentWidget(new guikit::LockIndicators(statusBar()));
}

void MainWindow::connectModel()
{
    pump_ = new NotificationPump(links_.explorerNotifications, links_.monitorNotifications, this);
    connect(pump_, &NotificationPump::deviceTreeChanged, this, [this] {
        deviceModel_->sync();
        commands_->updateActions();
    });
    connect(pump_, &NotificationPump::fileViewChanged, this, [this] { fileModel_->sync(); });
    connect(pump_, &NotificationPump::monitorChanged, this, &MainWindow::refreshMonitor);
    connect(pump_, &NotificationPump::logText, this, [this](const QString &t) { outputPage(1).appendText(t); });
    connect(pump_, &NotificationPump::debugText, this, [this](const QString &t) { outputPage(2).appendText(t); });
    connect(pump_, &NotificationPump::eventStored, this,
            [this](uint32_t entity) { commands_->refreshEventWindow(static_cast<QN_ENTITY>(entity)); });
    connect(pump_, &NotificationPump::messageBox, this, &MainWindow::queueMessage);
    connect(runner_, &OperationRunner::busyChanged, commands_, &CommandSet::updateActions);
    connect(documents_, &QMdiArea::subWindowActivated, commands_, &CommandSet::updateActions);
    connect(qApp, &QApplication::focusChanged, commands_, &CommandSet::updateActions);
}

void MainWindow::open()
{
    documents_->informationWindow(true);
    documents_->eventWindow(true);
    if (links_.profilePath.empty() || !restoreWindowLayout(*this, links_.profilePath))
        toolBar_->hide();
    show();
    documents_->showInformationWindow();
    deviceModel_->sync();
    fileModel_->sync();
    refreshMonitor();
    pump_->start();
    commands_->updateActions();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!closed_) {
        closed_ = true;
        if (!links_.profilePath.empty())
            saveWindowLayout(*this, links_.profilePath);
        // An operation still waiting on a device finishes before the stack
        // it uses goes away.
        runner_->wait();
        pump_->stop();
        emit closing();
    }
    event->accept();
}

OutputPane &MainWindow::outputPage(int index) const
{
    return *static_cast<OutputPane *>(outputTabs_->widget(index));
}

void MainWindow::expandAll(QTreeView *view, const QList<QModelIndex> &indexes)
{
    for (const QModelIndex &i : indexes)
        view->expand(i);
}

void MainWindow::queueMessage(const QString &text)
{
    pendingMessages_.append(text);
    if (showingMessage_)
        return;
    showingMessage_ = true;
    while (!pendingMessages_.isEmpty())
        prompts_.messageBox(pendingMessages_.takeFirst().toStdString());
    showingMessage_ = false;
}

void MainWindow::refreshMonitor()
{
    QStandardItem *root = monitorModel_->item(0);
    if (links_.monitor == nullptr || root == nullptr)
        return;
    // The list only grows: new addresses are appended.
    std::vector<lumivar::MonitorEntry> entries = links_.monitor->controlPoints();
    for (size_t i = static_cast<size_t>(root->rowCount()); i < entries.size(); ++i) {
        auto *item = new QStandardItem(nodeIcon(lumivar::NI_ITEM, 0), QString::fromStdString(entries[i].address));
        item->setEditable(false);
        root->appendRow(item);
    }
    monitorView_->expand(root->index());
}

void MainWindow::selectNode(uint64_t id)
{
    QModelIndex at = deviceModel_->indexOfId(id);
    deviceView_->setCurrentIndex(at);
    if (at.isValid())
        deviceView_->scrollTo(at);
}

uint64_t MainWindow::selectedNode() const { return deviceModel_->idAt(deviceView_->currentIndex()); }

// The File View's item stands for the device node whose location it
// shows: the commands act on that node.
uint64_t MainWindow::selectedFileViewNode() const
{
    uint64_t item = fileModel_->idAt(fileView_->currentIndex());
    if (item == 0 || !links_.readFileView || !links_.readTree)
        return 0;
    std::string location;
    links_.readFileView([&](const lumivar::DeviceTree &view) {
        const lumivar::TreeNode *n = view.findById(item);
        while (n != nullptr && n->parent != nullptr && n->parent->parent != nullptr)
            n = n->parent;
        if (n != nullptr && n->parent != nullptr)
            location = n->key;
    });
    uint64_t node = 0;
    if (!location.empty())
        links_.readTree([&](const lumivar::DeviceTree &tree) {
            if (const lumivar::TreeNode *device = tree.findDevice(location))
                node = device->id;
        });
    return node;
}

} // namespace lumivarui
