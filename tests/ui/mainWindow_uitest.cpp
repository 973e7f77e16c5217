// Lumivar's main window over a tree document of the test's own: the menus
// as shown, the enabling of every device command for a selection under
// each root, the accelerators, the document windows' numbering and the
// fixed windows that refuse to close, and the bars' layout across a
// restart.
#include "uiTestSupport.h"

#include "commandSet.h"
#include "contextTreeView.h"
#include "documentArea.h"
#include "documentFrame.h"
#include "listWindow.h"
#include "mainWindow.h"

#include "iniStore.h"
#include "virtualDevices.h"
#include "windowRegistry.h"

#include "netns.h"

#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace lumivar;
using lumivarui::Command;
using uitest::menuTexts;

constexpr QN_ENTITY kActiveCp = 3;
constexpr QN_ENTITY kLoadedDevice = 5;

// One explored device: its service with an action (an argument with a
// value), a variable with a value, and the property kinds "Visit" knows.
TreeNode &addDevice(DeviceTree &tree, NodeKind root, const std::string &title, QN_ENTITY entity)
{
    TreeNode &dev = tree.appendChild(tree.root(root), {title, NK_DEVICE, entity, NI_DEVICE});
    dev.key = "http://10.0.0.5:8080/" + title + ".xml";
    auto parts = tree.rebuildChildren(dev, {{"Location", NK_LOCATION, entity}, {"Properties", NK_PROPERTIES, entity},
                                            {"Service List", NK_SERVICE_LIST, entity}});
    tree.rebuildChildren(*parts[0], {{dev.key, NK_LOCATION_URL, entity, NI_ITEM}});
    auto props = tree.rebuildChildren(*parts[1], {{"manufacturerURL", NK_MANUFACTURER_URL, entity, NI_ITEM},
                                                  {"friendlyName", NK_PROPERTY, entity, NI_ITEM}});
    tree.rebuildChildren(*props[0], {{"http://vendor.example/", NK_MANUFACTURER_URL + 1, entity, NI_ITEM}});
    tree.rebuildChildren(*props[1], {{title, NK_PROPERTY + 1, entity, NI_ITEM}});
    auto services = tree.rebuildChildren(*parts[2], {{"urn:schemas-upnp-org:service:SwitchPower:1", NK_SERVICE, entity}});
    auto sparts = tree.rebuildChildren(*services[0], {{"Subcription", NK_SUBSCRIPTION, entity},
                                                      {"Properties", NK_PROPERTIES, entity},
                                                      {"Actions", NK_ACTIONS, entity},
                                                      {"Variables", NK_VARIABLES, entity}});
    auto sprops = tree.rebuildChildren(*sparts[1], {{"SCPDURL", NK_SCPD_URL, entity, NI_ITEM}});
    tree.rebuildChildren(*sprops[0], {{"/SwitchPower.xml", NK_SCPD_URL + 1, entity, NI_ITEM}});
    auto actions = tree.rebuildChildren(*sparts[2], {{"SetTarget", NK_ACTION, entity, NI_ITEM}});
    auto args = tree.rebuildChildren(*actions[0], {{"newTargetValue", NK_ARGUMENT, entity, NI_ARG_IN}});
    tree.rebuildChildren(*args[0], {{"1", NK_ARGUMENT_VALUE, entity, NI_ITEM}});
    auto vars = tree.rebuildChildren(*sparts[3], {{"Status", NK_VARIABLE, entity, NI_ITEM}});
    tree.rebuildChildren(*vars[0], {{"0", NK_VARIABLE_VALUE, entity, NI_ITEM}});
    return dev;
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        profile_ = std::filesystem::temp_directory_path() / ("lumivar-ui-" + std::to_string(getpid()) + ".ini");
        std::filesystem::remove(profile_);
        {
            std::lock_guard guard(doc_.mutex);
            addDevice(doc_.tree, NK_ACTIVE_ROOT, "Light", kActiveCp);
            addDevice(doc_.tree, NK_INACTIVE_ROOT, "Loaded", kLoadedDevice);
            addDevice(doc_.tree, NK_VIRTUAL_ROOT, "Running", kLoadedDevice + 1);
            TreeNode &dropped = doc_.tree.appendChild(doc_.tree.root(NK_FILTERED_ROOT),
                                                      {"http://10.0.0.9/d.xml", NK_DEVICE, 16, NI_DEVICE});
            dropped.key = dropped.text;
        }
        links_.readTree = doc_.reader();
        links_.readFileView = files_.reader();
        links_.profilePath = profile_.string();
    }
    void TearDown() override { std::filesystem::remove(profile_); }

    std::unique_ptr<lumivarui::MainWindow> openWindow()
    {
        auto window = std::make_unique<lumivarui::MainWindow>(links_, prompts_);
        window->open();
        return window;
    }
    // The node at the path of texts from a root.
    uint64_t nodeAt(const std::vector<std::string> &path)
    {
        std::lock_guard guard(doc_.mutex);
        TreeNode *n = doc_.tree.findPath(path);
        return n != nullptr ? n->id : 0;
    }

    uitest::Document doc_;
    uitest::Document files_{TreeNotification::FILE_VIEW};
    uitest::RecordingPrompts prompts_;
    lumivarui::ExplorerLinks links_;
    std::filesystem::path profile_;
};

TEST_F(MainWindowTest, MenusBarsAndPanesAsShown)
{
    auto window = openWindow();
    EXPECT_EQ(window->windowTitle().toStdString(), "Lumiscope");
    std::vector<std::string> titles;
    for (QAction *m : window->menuBar()->actions())
        titles.push_back(m->text().toStdString());
    EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Edit", "&View", "&UPnP", "&Tools", "&Window", "&Help"}));
    auto texts = [](const std::vector<std::string> &all) {
        std::vector<std::string> out;
        for (const auto &t : all)
            if (t != "-")
                out.push_back(t);
        return out;
    };
    QMenu *file = window->menuBar()->actions().at(0)->menu();
    EXPECT_EQ(texts(menuTexts(*file)), (std::vector<std::string>{"&Close", "E&xit"}));
    EXPECT_EQ(texts(menuTexts(*window->menuBar()->actions().at(1)->menu())),
              (std::vector<std::string>{"&Undo\tCtrl+Z", "Cu&t\tCtrl+X", "&Copy\tCtrl+C", "&Paste\tCtrl+V"}));
    EXPECT_EQ(menuTexts(*window->commands().deviceTreeMenu()),
              (std::vector<std::string>{"Discover", "&Execute Action", "&Query Variable", "&Walk Variables",
                                        "Subscribe", "Unsubscribe", "-", "Show Subcriptoins", "Set Value",
                                        "Retrieve XML", "Visit", "-", "Start Control Point Monitor",
                                        "Run virtual device", "Stop virtual device"}));
    EXPECT_EQ(menuTexts(*window->commands().fileViewMenu()),
              (std::vector<std::string>{"Load XML File...", "-", "Unload XML File"}));
    EXPECT_TRUE(window->toolBar().isHidden());
    EXPECT_EQ(window->toolBar().objectName().toStdString(), "ToolBar");
    auto *output = window->findChild<QDockWidget *>(QStringLiteral("Output"));
    auto *workspace = window->findChild<QDockWidget *>(QStringLiteral("Workspace"));
    ASSERT_TRUE(output != nullptr && workspace != nullptr);
    auto *pages = workspace->findChild<QTabWidget *>();
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(pages->tabText(0).toStdString() + "|" + pages->tabText(1).toStdString(), "Device Explorer|File View");
    auto *outputPages = output->findChild<QTabWidget *>();
    EXPECT_EQ(outputPages->tabText(0).toStdString() + "|" + outputPages->tabText(1).toStdString() + "|" +
                  outputPages->tabText(2).toStdString(),
              "Event|Log|Debug");
    EXPECT_EQ(window->statusBar()->findChild<QLabel *>(QStringLiteral("prompt"))->text().toStdString(), "Ready");
    // The Discover command's prompt is the string table's text before "\n".
    EXPECT_EQ(window->commands().action(Command::DISCOVER)->statusTip().toStdString(), "Send SSDP");
    EXPECT_EQ(window->commands().action(Command::DISCOVER)->toolTip().toStdString(),
              "Send SSDP to discover UPnP device");
}

TEST_F(MainWindowTest, DeviceCommandsEnabledBySelectionUnderEachRoot)
{
    auto window = openWindow();
    const std::string power = "urn:schemas-upnp-org:service:SwitchPower:1";
    const std::vector<Command> commands = {Command::DISCOVER,       Command::EXECUTE_ACTION, Command::QUERY_VARIABLE,
                                           Command::WALK_VARIABLES, Command::SUBSCRIBE,      Command::UNSUBSCRIBE,
                                           Command::SHOW_SUBSCRIPTIONS, Command::SET_VALUE,  Command::RETRIEVE_XML,
                                           Command::VISIT,          Command::LOAD_XML_FILE,  Command::UNLOAD_XML_FILE,
                                           Command::RUN_VIRTUAL_DEVICE};
    // One letter per command above, in order: 1 enabled, 0 disabled.
    struct Case {
        const char *name;
        std::vector<std::string> path;
        const char *enabled;
    };
    auto under = [&](const char *root, const char *device, std::vector<std::string> rest) {
        std::vector<std::string> path{root, device};
        path.insert(path.end(), rest.begin(), rest.end());
        return path;
    };
    const std::vector<std::string> action = {"Service List", power, "Actions", "SetTarget"};
    const std::vector<std::string> argValue = {"Service List", power, "Actions", "SetTarget", "newTargetValue", "1"};
    const std::vector<std::string> variable = {"Service List", power, "Variables", "Status"};
    const std::vector<std::string> visit = {"Properties", "manufacturerURL"};
    const Case cases[] = {
        //                                                                 DEQWSUHVRXLNR
        {"nothing selected", {}, "0000001000100"},
        {"Active Devices root", {"Active Devices"}, "1000001000100"},
        {"active device", under("Active Devices", "Light", {}), "1000111010100"},
        {"active action", under("Active Devices", "Light", action), "1100111110100"},
        {"active argument value", under("Active Devices", "Light", argValue), "1100111110100"},
        {"active variable", under("Active Devices", "Light", variable), "1010111010100"},
        {"active manufacturerURL", under("Active Devices", "Light", visit), "1000111011100"},
        {"inactive device", under("Inactive Devices", "Loaded", {}), "0000000010111"},
        {"inactive action", under("Inactive Devices", "Loaded", action), "0000000010110"},
        {"inactive variable", under("Inactive Devices", "Loaded", variable), "0000000010110"},
        {"virtual action", under("Virtual Devices", "Running", action), "0100001110110"},
        {"virtual variable", under("Virtual Devices", "Running", variable), "0010001110110"},
        {"filtered device", {"Filtered Devices", "http://10.0.0.9/d.xml"}, "0000001010100"},
    };
    for (const Case &c : cases) {
        uint64_t id = c.path.empty() ? 0 : nodeAt(c.path);
        ASSERT_TRUE(c.path.empty() || id != 0) << c.name;
        window->selectNode(id);
        window->commands().updateActions();
        std::string shown;
        for (Command command : commands)
            shown += window->commands().action(command)->isEnabled() ? '1' : '0';
        EXPECT_EQ(shown, c.enabled) << c.name;
    }
    // Without a running monitor only its start is offered.
    EXPECT_TRUE(window->commands().action(Command::START_MONITOR)->isEnabled());
    EXPECT_FALSE(window->commands().action(Command::STOP_MONITOR)->isEnabled());
}

TEST_F(MainWindowTest, KeysCtrlOShiftF10AndF6)
{
    auto window = openWindow();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    std::vector<std::string> asked = prompts_.fileFilters();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], kXmlFileFilter);

    // Shift+F10 opens the tree's menu for the selected item.
    guikit::ContextTreeView &tree = window->deviceView();
    window->selectNode(nodeAt({"Active Devices", "Light"}));
    tree.setFocus();
    QTest::keyClick(&tree, Qt::Key_F10, Qt::ShiftModifier);
    QMenu *menu = window->commands().deviceTreeMenu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
    EXPECT_TRUE(window->commands().action(Command::SUBSCRIBE)->isEnabled());
    menu->close();
    // F6 leaves the tree for the next pane, Shift+F6 comes back.
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_FALSE(tree.hasFocus());
    QTest::keyClick(window.get(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(tree.hasFocus());
}

TEST_F(MainWindowTest, WindowsAreNumberedLikeTheirTabsAndFixedOnesStayOpen)
{
    auto window = openWindow();
    lumivarui::DocumentArea &docs = window->documents();
    auto numbered = [&] {
        std::string out;
        for (const auto &w : docs.windows())
            out += std::to_string(w.number) + " " + w.title.toStdString() + "\n";
        return out;
    };
    const std::string info = kInformationTitle, event = kEventTitle;
    // "&View" "&Information" twice: still one Information window, in front.
    window->commands().action(Command::VIEW_INFORMATION)->trigger();
    window->commands().action(Command::VIEW_INFORMATION)->trigger();
    EXPECT_EQ(numbered(), "1 " + info + "\n2 " + event + "\n");
    ASSERT_NE(docs.activeSubWindow(), nullptr);
    EXPECT_EQ(docs.activeSubWindow()->windowTitle().toStdString(), info);
    EXPECT_FALSE(window->commands().action(Command::CLOSE)->isEnabled());

    std::string url[3];
    for (int i = 0; i < 3; ++i) {
        url[i] = "file://" + qntest::dataPath("fixtures/scpd/ConnectionManager.xml") + "?" + std::to_string(i);
        docs.openUrl(QString::fromStdString(url[i]));
    }
    docs.openUrl(QString::fromStdString(url[1])); // the same address reuses its window
    EXPECT_EQ(numbered(), "1 " + info + "\n2 " + event + "\n3 " + url[0] + "\n4 " + url[1] + "\n5 " + url[2] + "\n");
    EXPECT_EQ(docs.activeSubWindow()->windowTitle().toStdString(), url[1]);

    // Closing window 3 of 3..5 moves the later ones down; a new window takes
    // the freed highest number.
    window->commands().updateActions();
    ASSERT_TRUE(window->commands().action(Command::CLOSE)->isEnabled());
    docs.frameOf(docs.registry().findWindow(url[0])->id)->close();
    EXPECT_EQ(numbered(), "1 " + info + "\n2 " + event + "\n3 " + url[1] + "\n4 " + url[2] + "\n");
    docs.openUrl(QString::fromStdString(url[0]));
    EXPECT_EQ(numbered(), "1 " + info + "\n2 " + event + "\n3 " + url[1] + "\n4 " + url[2] + "\n5 " + url[0] + "\n");
    QMenu *windows = window->commands().windowMenu();
    emit windows->aboutToShow();
    EXPECT_EQ(menuTexts(*windows).back(), "&5 " + url[0]);

    // The fixed windows refuse every way of closing; "Close All" leaves them.
    for (const std::string &title : {info, event}) {
        lumivarui::DocumentFrame *frame = docs.frameOf(docs.registry().findWindow(title)->id);
        EXPECT_FALSE(frame->close()) << title;
    }
    window->commands().action(Command::CLOSE_ALL)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(numbered(), "1 " + info + "\n2 " + event + "\n");
    EXPECT_EQ(docs.subWindowList().size(), 2);
}

TEST_F(MainWindowTest, BarsLayoutSurvivesARestartAndKeepsTheSettings)
{
    {
        std::ofstream(profile_) << "[ActDev]\nCBPort = 31000\nCBUrl = /a,b\n";
    }
    {
        auto window = openWindow();
        window->commands().action(Command::VIEW_TOOLBAR)->trigger();
        window->commands().action(Command::VIEW_STATUS_BAR)->trigger();
        auto *output = window->findChild<QDockWidget *>(QStringLiteral("Output"));
        window->addDockWidget(Qt::RightDockWidgetArea, output);
        EXPECT_FALSE(window->toolBar().isHidden());
        window->close();
    }
    IniStore stored;
    ASSERT_TRUE(stored.load(profile_.string()));
    EXPECT_EQ(stored.get("ActDev", "CBPort", ""), "31000");
    EXPECT_EQ(stored.get("ActDev", "CBUrl", ""), "/a,b");
    EXPECT_TRUE(stored.has("Lumiscope-Bars", "BarState"));

    auto again = openWindow();
    EXPECT_FALSE(again->toolBar().isHidden());
    EXPECT_TRUE(again->statusBar()->isHidden());
    EXPECT_TRUE(again->commands().action(Command::VIEW_TOOLBAR)->isChecked());
    auto *output = again->findChild<QDockWidget *>(QStringLiteral("Output"));
    EXPECT_EQ(again->dockWidgetArea(output), Qt::RightDockWidgetArea);
}

} // namespace
