// Lumivar: the explorer's window on the model. The application object
// brings the stack and the Device Explorer up; the window is built on it,
// and at the end the server loop stops before the settings are written and
// the stack is cleaned.
#include "closeOnSignals.h"
#include "explorerLinks.h"
#include "mainWindow.h"
#include "productInfo.h"
#include "windowPrompts.h"

#include "controlPointMonitor.h"
#include "deviceOperations.h"
#include "explorerApp.h"
#include "virtualDevices.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(lumivarui::kMainWindowTitle));
    QApplication::setOrganizationName(QString::fromLatin1(lumivarui::kCompanyName));
    QApplication::setApplicationVersion(QStringLiteral("1.5"));
    QApplication::setDesktopFileName(QStringLiteral("lumivar"));

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Explore and exercise the UPnP devices of the local network."));
    options.addHelpOption();
    options.addVersionOption();
    QCommandLineOption settingsFile(QStringLiteral("settings"),
                                    QStringLiteral("Read and write this settings file instead of ./Zentrova.ini."),
                                    QStringLiteral("file"));
    QCommandLineOption bindAddress(QStringLiteral("bind"),
                                   QStringLiteral("Listen on this IPv4 address only (default: the host's)."),
                                   QStringLiteral("address"));
    options.addOption(settingsFile);
    options.addOption(bindAddress);
    options.process(app);

    lumivar::ExplorerApp explorer;
    if (options.isSet(settingsFile))
        explorer.setSettingsPath(options.value(settingsFile).toStdString());
    std::string bind = options.value(bindAddress).toStdString();
    explorer.setBindAddress(bind);

    lumivarui::WindowPrompts prompts;
    explorer.start();
    lumivar::DeviceOperations operations(explorer.explorer(), prompts);
    lumivar::VirtualDevices virtualDevices(explorer.explorer(), explorer.settings(), prompts);
    lumivar::ControlPointMonitor monitor(explorer.settings(), prompts);
    virtualDevices.setBindAddress(bind);
    monitor.setBindAddress(bind);

    lumivarui::ExplorerLinks links;
    lumivar::DeviceExplorer &ex = explorer.explorer();
    links.readTree = [&ex](const auto &reader) { ex.readTree(reader); };
    links.readFileView = [&ex](const auto &reader) { ex.readFileView(reader); };
    links.explorerNotifications = [&explorer] { return explorer.takeNotifications(); };
    links.monitorNotifications = [&monitor] { return monitor.takeNotifications(); };
    links.explorer = &ex;
    links.operations = &operations;
    links.virtualDevices = &virtualDevices;
    links.monitor = &monitor;
    links.profilePath = explorer.settingsFile();

    int result = 0;
    {
        lumivarui::MainWindow window(links, prompts);
        prompts.setWindow(&window);
        QObject::connect(&window, &lumivarui::MainWindow::closing, [&explorer] { explorer.stopServer(); });
        lumivarui::closeOnSignals(window);
        // The monitor's tree exists now: its start may show in it.
        if (explorer.settings().autoStartMonitor)
            monitor.startMonitor(true);
        window.open();
        explorer.setMainWindowUp(true);
        result = QApplication::exec();
        prompts.setWindow(nullptr);
    }
    explorer.finish();
    return result;
}
