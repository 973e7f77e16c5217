// Lumivar end to end, inside the test's private network: the window on the
// real application object, a BinaryLight of the stack (the example program)
// and a GUPnP DimmableLight. The explorer finds both; an action's argument
// is set in the "Set Value" dialog from its allowed range, the action runs
// and its rows reach the Information window; a subscription brings the
// device's event into the Event window; "Retrieve XML" shows a service's
// SCPD. A screenshot of the window is kept as the test's artefact.
#include "uiTestSupport.h"

#include "commandSet.h"
#include "documentArea.h"
#include "documentFrame.h"
#include "documentTreeModel.h"
#include "listWindow.h"
#include "mainWindow.h"
#include "operationRunner.h"
#include "outputPane.h"
#include "contextTreeView.h"
#include "setValueDialogBox.h"
#include "xmlWindow.h"

#include "explorerApp.h"
#include "windowRegistry.h"

#include "childProcess.h"
#include "gupnpPeer.h"
#include "netns.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace lumivar;
using lumivarui::Command;
using qntest::ChildProcess;

constexpr int kFoundWaitMs = 20000;
constexpr int kOperationWaitMs = 15000;
constexpr uint16_t kLightPort = 32401;
constexpr uint16_t kCallbackPort = 32410;
const std::string kDimming = "urn:schemas-upnp-org:service:Dimming:1";
const std::string kSwitch = "urn:schemas-upnp-org:service:SwitchPower:1";

std::string rowsOf(lumivarui::ListWindow *list)
{
    std::string out;
    if (list == nullptr)
        return out;
    for (int r = 0; r < list->rows().rowCount(); ++r) {
        for (int c = 0; c < list->rows().columnCount(); ++c)
            out += (c > 0 ? "|" : "") + list->rows().cell(r, c).toStdString();
        out += "\n";
    }
    return out;
}

class Lumivar : public testing::Test {
protected:
    void SetUp() override
    {
        if (!qntest::inPrivateNetwork())
            GTEST_SKIP() << "no private network namespace";
        char pattern[] = "/tmp/lumivar-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::ofstream(dir_ + "/Zentrova.ini") << "[ActDev]\nCBPort=" << kCallbackPort << "\n[Log]\nSsdp=1\n";
        // log.txt goes to the working directory.
        previousDir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override
    {
        if (dir_.empty())
            return;
        std::filesystem::current_path(previousDir_);
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // The device node of location, once the explorer described it (its
    // "Service List" is there), as shown in the window's tree.
    uint64_t shownDevice(lumivarui::MainWindow &window, ExplorerApp &app, const std::string &location)
    {
        uint64_t id = 0;
        app.explorer().readTree([&](const DeviceTree &tree) {
            const TreeNode *dev = tree.findDevice(location);
            if (dev != nullptr && dev->child("Service List") != nullptr && !dev->child("Service List")->children.empty())
                id = dev->id;
        });
        return id != 0 && window.deviceModel().indexOfId(id).isValid() ? id : 0;
    }
    uint64_t below(ExplorerApp &app, uint64_t device, const std::vector<std::string> &path)
    {
        uint64_t id = 0;
        app.explorer().readTree([&](const DeviceTree &tree) {
            const TreeNode *n = tree.findById(device);
            for (const auto &step : path)
                n = n != nullptr ? n->child(step) : nullptr;
            id = n != nullptr ? n->id : 0;
        });
        return id;
    }
    // Selects node once the window's tree shows it, as a click would.
    static void select(lumivarui::MainWindow &window, uint64_t node)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.deviceModel().indexOfId(node).isValid(); }, 5000));
        window.selectNode(node);
        window.commands().updateActions();
    }
    // Runs a command on the selection and waits for its operation.
    void run(lumivarui::MainWindow &window, Command command, uint64_t node)
    {
        select(window, node);
        ASSERT_TRUE(window.commands().action(command)->isEnabled());
        window.commands().action(command)->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.runner().busy(); }, kOperationWaitMs));
    }

    std::string dir_;
    std::filesystem::path previousDir_;
};

TEST_F(Lumivar, ExploresSetsExecutesSubscribesAndRetrievesXml)
{
    ASSERT_TRUE(qntest::haveGupnp()) << "python3-gi with GUPnP 1.6 is needed (tools/install-deps)";
    ChildProcess light({QN_EXAMPLE_LIGHT, "--dir", std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight",
                        "--addr", "127.0.0.1", "--port", std::to_string(kLightPort)});
    ChildProcess gupnp({qntest::kPython, std::string(QN_TEST_DATA_DIR) + "/../interop/gupnp_light.py",
                        qntest::dataPath("fixtures/devices/network-light")});
    std::string gupnpUrl = gupnp.waitForLine("READY ", 10000);
    ASSERT_FALSE(gupnpUrl.empty()) << "the GUPnP light did not come up";
    gupnpUrl = gupnpUrl.substr(6);
    const std::string lightUrl = "http://127.0.0.1:" + std::to_string(kLightPort) + "/BinaryLight.xml";

    ExplorerApp app(dir_ + "/");
    app.setBindAddress("127.0.0.1");
    uitest::RecordingPrompts prompts;
    app.setPrompts(prompts);
    ASSERT_TRUE(app.start());
    lumivarui::ExplorerLinks links;
    DeviceExplorer &ex = app.explorer();
    links.readTree = [&ex](const auto &reader) { ex.readTree(reader); };
    links.readFileView = [&ex](const auto &reader) { ex.readFileView(reader); };
    links.explorerNotifications = [&app] { return app.takeNotifications(); };
    links.explorer = &ex;
    links.operations = &app.operations();
    links.virtualDevices = &app.virtualDevices();
    links.monitor = &app.monitor();
    links.profilePath = app.settingsFile();

    auto window = std::make_unique<lumivarui::MainWindow>(links, prompts);
    QObject::connect(window.get(), &lumivarui::MainWindow::closing, [&app] { app.stopServer(); });
    window->open();
    app.setMainWindowUp(true);

    // Both devices found, described and shown.
    uint64_t gupnpDev = 0, lightDev = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            gupnpDev = shownDevice(*window, app, gupnpUrl);
            lightDev = shownDevice(*window, app, lightUrl);
            return gupnpDev != 0 && lightDev != 0;
        },
        kFoundWaitMs))
        << app.explorer().dumpTree();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window->outputPage(1).toPlainText().contains(QString::fromStdString(gupnpUrl)); }, 2000));

    // "Set Value" on SetLoadLevelTarget: the argument's type and range, and
    // a value from that range.
    const std::vector<std::string> setLevel = {"Service List", kDimming, "Actions", "SetLoadLevelTarget"};
    uint64_t action = below(app, gupnpDev, setLevel);
    ASSERT_NE(action, 0u);
    std::string shownType, shownRange;
    prompts.editor = [&](SetValueDialog &record) {
        lumivarui::SetValueDialogBox box(record, window.get());
        shownType = box.dataTypeField()->text().toStdString();
        shownRange = box.rangeField()->text().toStdString();
        box.valueField()->setText(QStringLiteral("42"));
        box.accept();
        return box.result() == QDialog::Accepted;
    };
    select(*window, action);
    ASSERT_TRUE(window->commands().action(Command::SET_VALUE)->isEnabled());
    window->commands().action(Command::SET_VALUE)->trigger();
    EXPECT_EQ(shownType, "ui1");
    EXPECT_EQ(shownRange, "0..100");

    run(*window, Command::EXECUTE_ACTION, action);
    lumivarui::ListWindow *info = window->documents().informationWindow(false);
    EXPECT_EQ(rowsOf(info), "Action|Successful\nOut Arguments|0\n") << ::testing::PrintToString(prompts.messages());
    EXPECT_FALSE(gupnp.waitForLine("ACTION SetLoadLevelTarget newLoadlevelTarget=42", 5000).empty());
    uint64_t getLevel = below(app, gupnpDev, {"Service List", kDimming, "Actions", "GetLoadLevelStatus"});
    run(*window, Command::EXECUTE_ACTION, getLevel);
    EXPECT_EQ(rowsOf(info), "Action|Successful\nOut Arguments|1\nretLoadlevelStatus|42\n");

    // Subscribed: the initial event fills the Event window.
    uint64_t dimming = below(app, gupnpDev, {"Service List", kDimming});
    run(*window, Command::SUBSCRIBE, dimming);
    EXPECT_NE(rowsOf(info).find("Subscription|Success\n"), std::string::npos) << rowsOf(info);
    lumivarui::ListWindow *events = window->documents().eventWindow(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowsOf(events).find("|42|") != std::string::npos; }, kOperationWaitMs))
        << rowsOf(events);
    EXPECT_NE(rowsOf(events).find("DimmableLight:1|Dimming:1|LoadLevelStatus|42|"), std::string::npos)
        << rowsOf(events);

    // "Retrieve XML" on the stack light's service: its SCPD, indented.
    uint64_t power = below(app, lightDev, {"Service List", kSwitch});
    select(*window, power);
    window->commands().action(Command::RETRIEVE_XML)->trigger();
    const std::string scpd = "http://127.0.0.1:" + std::to_string(kLightPort) + "/SwitchPower.xml";
    const WindowDoc *xmlDoc = window->documents().registry().findWindow(scpd);
    ASSERT_NE(xmlDoc, nullptr);
    auto *xml = qobject_cast<lumivarui::XmlWindow *>(window->documents().frameOf(xmlDoc->id)->widget());
    ASSERT_TRUE(QTest::qWaitFor([&] { return xml->shownText().contains(QStringLiteral("<name>SetTarget</name>")); },
                                kOperationWaitMs))
        << xml->shownText().toStdString();

    // A description file loaded with Ctrl+O shows under "Inactive Devices"
    // in both trees; the File View's menu unloads it again.
    const std::string file = std::string(QN_TEST_DATA_DIR) + "/../../examples/binarylight/BinaryLight.xml";
    prompts.chosenFile = file;
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(prompts.fileFilters().size(), 1u);
    QModelIndex loaded;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QAbstractItemModel *files = window->fileView().model();
            QModelIndex inactive = files->index(2, 0);
            loaded = files->index(0, 0, inactive);
            return loaded.isValid();
        },
        5000))
        << ::testing::PrintToString(prompts.messages()) << window->outputPage(2).toPlainText().toStdString();
    EXPECT_EQ(loaded.data().toString().toStdString(), "qnsdk Binary Light");
    window->fileView().setCurrentIndex(loaded);
    window->commands().updateActions();
    ASSERT_TRUE(window->commands().action(Command::FILE_VIEW_UNLOAD)->isEnabled());
    window->commands().action(Command::FILE_VIEW_UNLOAD)->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->fileView().model()->rowCount(window->fileView().model()->index(2, 0)) == 0; },
                                5000));
    EXPECT_TRUE(app.explorer().devices().size() == 2u) << app.explorer().dumpTree();
    EXPECT_TRUE(prompts.messages().empty()) << ::testing::PrintToString(prompts.messages());

    // The window exploring, for the record (and the README): the events in
    // front, beside the action they came from.
    window->selectNode(action);
    window->documents().showEventWindow();
    QTest::qWait(300);
    QString shot = qEnvironmentVariable("LUMIVAR_SCREENSHOT",
                                        QStringLiteral(QN_UI_ARTEFACT_DIR "/lumivar-e2e.png"));
    QDir().mkpath(QFileInfo(shot).absolutePath());
    EXPECT_TRUE(window->grab().save(shot)) << shot.toStdString();

    window->close();
    window.reset();
    EXPECT_TRUE(app.finish());
}

} // namespace
