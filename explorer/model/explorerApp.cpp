#include "explorerApp.h"

#include "outputSink.h"

#include "qnSdkApi.h"

#include <pthread.h>

#include <cstdio>
#include <utility>

namespace lumivar {

namespace {

// The stack's server loop on a thread of its own with the stack size the
// stack asks for; nobody joins it (qnSdkClean waits for the loop to end).
QN_RET startServerThread(QNThreadEntry entry, int32_t stackSize)
{
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return QN_ERR;
    if (stackSize > 0)
        (void)pthread_attr_setstacksize(&attr, static_cast<size_t>(stackSize));
    (void)pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, entry, nullptr);
    pthread_attr_destroy(&attr);
    return rc == 0 ? QN_OK : QN_ERR;
}

// A run's log starts empty; an earlier run's lines would mislead.
void truncateLogFile()
{
    const std::string path(kLogFilePath);
    if (std::FILE *file = std::fopen(path.c_str(), "wb"))
        std::fclose(file);
}

bool isLine(const TreeNotification &n)
{
    return n.type == TreeNotification::LOG_LINE || n.type == TreeNotification::DEBUG_LINE;
}

} // namespace

ExplorerApp::ExplorerApp(std::string appDirectory)
    : appDirectory_(std::move(appDirectory)), settingsPath_(settingsPath(appDirectory_))
{
}

ExplorerApp::~ExplorerApp() { (void)finish(); }

bool ExplorerApp::start()
{
    if (started_)
        return explorer_.running();
    started_ = true;
    truncateLogFile();
    OutputSink &sink = OutputSink::instance();
    sink.setWindowUp(false);
    sink.setLogToFile(false);
    sink.clear();
    sink.install();
    // A missing file gives the defaults, as on a first run.
    (void)loadSettings(settingsPath_, appDirectory_, settings_);
    applyLogLevels(settings_);
    sink.setLogToFile(settings_.logToFile);
    // A failing initialisation shows in the calls that follow it.
    QNApiSdkConfig config{};
    config.majorVer = 1;
    config.minorVer = 0;
    config.stackSize = kServerThreadStackSize;
    config.createThreadFunc = startServerThread;
    (void)qnSdkInit(&config);
    explorer_.setBindAddress(bindAddress_);
    virtualDevices_.setBindAddress(bindAddress_);
    monitor_.setBindAddress(bindAddress_);
    // "AutoDE" is always on.
    bool explorerUp = explorer_.startExplorer(true);
    if (settings_.autoStartMonitor)
        (void)monitor_.startMonitor(true); // says itself why it failed
    return explorerUp;
}

void ExplorerApp::setMainWindowUp(bool up) { OutputSink::instance().setWindowUp(up); }

void ExplorerApp::stopServer()
{
    setMainWindowUp(false);
    if (started_ && !finished_)
        (void)qnSdkStop();
}

bool ExplorerApp::finish()
{
    if (!started_)
        return true; // nothing was loaded, so nothing is written
    if (finished_)
        return settingsSaved_;
    finished_ = true;
    OutputSink &sink = OutputSink::instance();
    sink.setWindowUp(false);
    settingsSaved_ = saveSettings(settingsPath_, settings_);
    (void)qnSdkClean();
    // No handler runs any more: the stack's text goes back to the console.
    sink.uninstall();
    sink.setLogToFile(false);
    sink.clear();
    return settingsSaved_;
}

std::vector<TreeNotification> ExplorerApp::takeNotifications()
{
    OutputSink &sink = OutputSink::instance();
    std::vector<TreeNotification> out = explorer_.takeNotifications();
    if (!sink.windowUp())
        std::erase_if(out, isLine);
    for (auto &n : monitor_.takeNotifications())
        if (!isLine(n) || sink.windowUp())
            out.push_back(std::move(n));
    for (auto &line : sink.take())
        out.push_back(std::move(line));
    return out;
}

void ExplorerApp::PromptsRelay::messageBox(const std::string &text)
{
    if (target != nullptr)
        target->messageBox(text);
    else
        std::fprintf(stderr, "message: %s\n", text.c_str());
}

bool ExplorerApp::PromptsRelay::editValues(SetValueDialog &dialog)
{
    return target != nullptr && target->editValues(dialog);
}

std::optional<std::string> ExplorerApp::PromptsRelay::chooseOpenFile(const std::string &filterText)
{
    return target != nullptr ? target->chooseOpenFile(filterText) : std::nullopt;
}

} // namespace lumivar
