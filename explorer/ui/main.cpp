// Lumivar: the explorer's window on the model. The application object
// brings the stack and the Device Explorer up; the window is built on it,
// and at the end the server loop stops before the settings are written and
// the stack is cleaned.
#include "closeOnSignals.h"
#include "explorerLinks.h"
#include "mainWindow.h"
#include "productInfo.h"
#include "windowPrompts.h"

#include "explorerApp.h"

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
    explorer.setPrompts(prompts);
    explorer.start();

    lumivarui::ExplorerLinks links;
    lumivar::DeviceExplorer &ex = explorer.explorer();
    links.readTree = [&ex](const auto &reader) { ex.readTree(reader); };
    links.readFileView = [&ex](const auto &reader) { ex.readFileView(reader); };
    // The application's queue carries the monitor's notifications too.
    links.explorerNotifications = [&explorer] { return explorer.takeNotifications(); };
    links.explorer = &ex;
    links.operations = &explorer.operations();
    links.virtualDevices = &explorer.virtualDevices();
    links.monitor = &explorer.monitor();
    links.profilePath = explorer.settingsFile();

    int result = 0;
    {
        lumivarui::MainWindow window(links, prompts);
        prompts.setWindow(&window);
        QObject::connect(&window, &lumivarui::MainWindow::closing, [&explorer] { explorer.stopServer(); });
        lumivarui::closeOnSignals(window);
        window.open();
        explorer.setMainWindowUp(true);
        result = QApplication::exec();
        prompts.setWindow(nullptr);
    }
    explorer.finish();
    return result;
}
