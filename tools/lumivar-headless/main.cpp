// lumivar-headless: the explorer without its window. It starts the
// application as the windowed program does, explores the network for a
// while, prints the device tree and shuts down in the same order, writing
// the settings back. The explorer's "Log" and "Debug" lines go to standard
// error as they come; standard output carries the tree alone.
#include "explorerApp.h"
#include "treeJson.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr long kDefaultSeconds = 5;
constexpr long kMaxSeconds = 24L * 3600;
// How often the "window" takes what the explorer queued.
constexpr auto kDrainPeriod = std::chrono::milliseconds(100);

volatile sig_atomic_t stopAsked = 0;
void onStopSignal(int) { stopAsked = 1; }

struct Options {
    std::string settingsFile; // empty: the application directory's
    std::string bindAddress;
    long seconds = kDefaultSeconds;
    bool json = false;
};

void printUsage(std::FILE *to)
{
    std::fputs("usage: lumivar-headless [--settings FILE] [--for SECONDS] [--json] [--addr IP]\n"
               "  --settings FILE  the settings file (default: Zentrova.ini in the working directory);\n"
               "                   written back at exit\n"
               "  --for SECONDS    how long to explore before printing the tree (default 5)\n"
               "  --json           print the tree as one JSON document instead of indented text\n"
               "  --addr IP        the address the control points listen on (default: the host's)\n"
               "The explorer's log lines go to standard error; \"./log.txt\" is created empty.\n",
               to);
}

bool parseSeconds(const char *text, long &out)
{
    char *end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > kMaxSeconds)
        return false;
    out = value;
    return true;
}

// 0 when parsed, else the exit status (help: 0 after printing it, so -1).
int parseOptions(int argc, char **argv, Options &out)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            printUsage(stdout);
            return -1;
        }
        if (std::strcmp(arg, "--json") == 0) {
            out.json = true;
        } else if (std::strcmp(arg, "--settings") == 0 && hasValue) {
            out.settingsFile = argv[++i];
        } else if (std::strcmp(arg, "--addr") == 0 && hasValue) {
            out.bindAddress = argv[++i];
        } else if (std::strcmp(arg, "--for") == 0 && hasValue && parseSeconds(argv[i + 1], out.seconds)) {
            ++i;
        } else {
            std::fprintf(stderr, "lumivar-headless: bad or incomplete option '%s'\n", arg);
            printUsage(stderr);
            return kExitUsage;
        }
    }
    return 0;
}

// The lines a window would show on its "Log" and "Debug" pages.
void printLines(lumivar::ExplorerApp &app)
{
    for (const auto &n : app.takeNotifications()) {
        if (n.type == lumivar::TreeNotification::LOG_LINE || n.type == lumivar::TreeNotification::DEBUG_LINE) {
            std::string line = n.text;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.pop_back();
            std::fprintf(stderr, "%s: %s\n", n.type == lumivar::TreeNotification::LOG_LINE ? "log" : "debug",
                         line.c_str());
        }
    }
}

void explore(lumivar::ExplorerApp &app, long seconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (stopAsked == 0 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(kDrainPeriod);
        printLines(app);
    }
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    int rc = parseOptions(argc, argv, options);
    if (rc != 0)
        return rc < 0 ? kExitOk : rc;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    lumivar::ExplorerApp app;
    if (!options.settingsFile.empty())
        app.setSettingsPath(options.settingsFile);
    app.setBindAddress(options.bindAddress);
    bool started = app.start();
    if (!started)
        std::fputs("lumivar-headless: the Device Explorer could not start\n", stderr);
    app.setMainWindowUp(true);
    if (started)
        explore(app, options.seconds);
    app.stopServer();

    // The searchers the Control Point Monitor heard, when "AutoCPE" ran it.
    std::optional<std::vector<std::string>> searchers;
    if (app.monitor().running()) {
        searchers.emplace();
        for (const auto &entry : app.monitor().controlPoints())
            searchers->push_back(entry.address);
    }
    std::string tree;
    app.explorer().readTree([&](const lumivar::DeviceTree &t) {
        tree = options.json ? lumivar::treeJson(t, searchers) + "\n" : t.dump();
    });
    if (searchers && !options.json) {
        tree += std::string(lumivar::kControlPointRootText) + "\n";
        for (const auto &address : *searchers)
            tree += "  " + address + "\n";
    }
    std::fputs(tree.c_str(), stdout);
    std::fflush(stdout);
    if (!app.finish()) {
        std::fprintf(stderr, "lumivar-headless: could not write the settings to %s\n", app.settingsFile().c_str());
        return kExitFailed;
    }
    return started ? kExitOk : kExitFailed;
}
