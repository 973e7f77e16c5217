// qnsdk discover [--addr IP] [--timeout S] [--json]: searches the network,
// waits, and prints every root device found, described completely.
//
// It works as a control point workbench does: a plain control point hears
// every device and is offered each with MT_CP_ALIVE; it declines (so that it
// is free for the next one) and adds a control point bound to that
// device's description URL, which downloads the description and every SCPD.
#include "cliText.h"
#include "commands.h"
#include "modelJson.h"
#include "stackOutput.h"

#include "qnSdkApi.h"
#include "serverThread.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qncli {
namespace {

constexpr char kUsage[] = "usage: qnsdk discover [--addr IP] [--timeout S] [--json]\n";
constexpr int kDefaultTimeout = 3;
// A device heard late still gets this long to be described: the command
// ends within a second of its time-out, whatever the devices do (a
// download that is still running then is left out).
constexpr auto kDescribeGrace = std::chrono::milliseconds(500);

struct Options {
    std::string addr;
    int timeout = kDefaultTimeout;
    bool json = false;
};

// Lock order: the stack's model lock (held by the server thread around
// mainHandler), then found.lock.
struct Found {
    std::mutex lock;
    std::map<std::string, QN_CONTROL_POINT> byLocation; // description URL -> bound control point
    std::string addr;
};
Found found;

QN_RET boundHandler(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_OK; }

QNApiCtrlPointSettings cpSettings(int cpType, const char *descFile, QNMsgHandler handler)
{
    QNApiCtrlPointSettings s{};
    s.cpType = cpType;
    copyText(s.descFile, sizeof s.descFile, descFile);
    s.notifyApp = 1;
    copyText(s.ipAddr, sizeof s.ipAddr, found.addr);
    copyText(s.eventPath, sizeof s.eventPath, "/eventCB");
    s.msgHandler = handler;
    return s;
}

// Runs on the stack's server thread.
QN_RET mainHandler(QN_ENTITY entity, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_CP_ALIVE || arg == nullptr)
        return QN_OK;
    std::string location(static_cast<const char *>(arg));
    std::lock_guard guard(found.lock);
    if (found.byLocation.count(location) == 0) {
        QNApiCtrlPointSettings s = cpSettings(2, location.c_str(), boundHandler);
        QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, entity);
        if (cp != QN_INVALID_CONTROL_POINT)
            qnChangeEntityState(cp, ES_RUNNING);
        found.byLocation[location] = cp;
    }
    return QN_ERR; // not this one: stay free for the next device
}

bool described(QN_CONTROL_POINT cp)
{
    char udn[QN_VAL_MAX_LEN];
    return cp != QN_INVALID_CONTROL_POINT && qnGetUdn(cp, udn, sizeof udn) == 0;
}

bool allDescribed()
{
    ModelLock model;
    std::lock_guard guard(found.lock);
    for (auto &entry : found.byLocation)
        if (!described(entry.second))
            return false;
    return true;
}

// The human-readable form: one line per device, service and action.
void printTree(QN_CONTROL_POINT cp, const std::string &location, std::string &out)
{
    const char *names[QN_ARG_MAX_NUM * 2], *values[QN_ARG_MAX_NUM * 2];
    int32_t count = QN_ARG_MAX_NUM * 2;
    std::string friendly = "?", type = "?", udn = "?";
    if (qnGetDevInfo(cp, "", names, values, &count) == 0)
        for (int i = 0; i < count; ++i) {
            if (names[i] == nullptr || values[i] == nullptr)
                continue;
            if (std::strcmp(names[i], "friendlyName") == 0) friendly = values[i];
            if (std::strcmp(names[i], "deviceType") == 0) type = values[i];
            if (std::strcmp(names[i], "UDN") == 0) udn = values[i];
        }
    out += friendly + "  " + type + "\n  " + location + "\n  " + udn + "\n";
    const char *services[QN_ARG_MAX_NUM];
    count = QN_ARG_MAX_NUM;
    if (qnGetServList(cp, "", services, &count) != 0)
        return;
    for (int i = 0; i < count; ++i) {
        if (services[i] == nullptr)
            continue;
        const char *actions[QN_ARG_MAX_NUM * 4];
        int32_t n = QN_ARG_MAX_NUM * 4;
        out += std::string("  service ") + services[i] + "\n";
        if (qnGetActionList(cp, services[i], actions, &n) == 0)
            for (int k = 0; k < n; ++k)
                out += std::string("    action ") + (actions[k] ? actions[k] : "?") + "\n";
    }
}

bool parseOptions(int argc, char **argv, Options &o)
{
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--json") {
            o.json = true;
        } else if (arg == "--addr" && i + 1 < argc) {
            o.addr = argv[++i];
        } else if (arg == "--timeout" && i + 1 < argc) {
            char *end = nullptr;
            long t = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || t < 1 || t > 3600)
                return false;
            o.timeout = static_cast<int>(t);
        } else {
            return false;
        }
    }
    return true;
}

int discover(const Options &options)
{
    found.addr = options.addr;
    StackOutput output;
    if (!output.active()) {
        std::fprintf(stderr, "qnsdk discover: cannot keep the stack's messages off standard output\n");
        return kExitFailure;
    }
    QNApiSdkConfig config{1, 0, 1 << 20, startServerThread, 0, 0};
    QNApiCtrlPointSettings s = cpSettings(0, "", mainHandler);
    QN_CONTROL_POINT main = qnSdkInit(&config) == QN_OK ? qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT)
                                                         : QN_INVALID_CONTROL_POINT;
    if (main == QN_INVALID_CONTROL_POINT) {
        std::string said = output.finish();
        std::fprintf(stderr, "qnsdk discover: no usable local address%s\n",
                     options.addr.empty() ? " (give one with --addr)" : "");
        std::fputs(said.c_str(), stderr);
        return kExitFailure;
    }
    qnChangeEntityState(main, ES_RUNNING);
    qnSdkRun();
    std::this_thread::sleep_for(std::chrono::seconds(options.timeout));
    auto graceEnd = std::chrono::steady_clock::now() + kDescribeGrace;
    while (!allDescribed() && std::chrono::steady_clock::now() < graceEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    qnSdkStop();
    std::vector<std::string> lines;
    std::string tree;
    {
        ModelLock model;
        std::lock_guard guard(found.lock);
        for (auto &entry : found.byLocation) {
            if (!described(entry.second))
                continue;
            if (options.json) {
                lines.push_back(jsonText(entityModel(entry.second, entry.first.c_str())));
            } else {
                printTree(entry.second, entry.first, tree);
            }
        }
    }
    qnSdkClean();
    (void)output.finish();
    if (!options.json) {
        std::fputs(tree.c_str(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
    }
    for (const std::string &line : lines)
        if (!writeResultLine(line))
            return kExitFailure;
    return kExitOk;
}

} // namespace

int runDiscover(int argc, char **argv)
{
    Options options;
    if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (!parseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    return discover(options);
}

} // namespace qncli
