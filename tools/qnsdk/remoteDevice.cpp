// The session of a control command with one remote device.
#include "remoteDevice.h"

#include "cliText.h"
#include "commands.h"
#include "json.h"
#include "serverThread.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace qncli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kEventPath[] = "/eventCB";
constexpr auto kPoll = std::chrono::milliseconds(50);

// The device searched for by UDN, and its description URL once heard.
struct Wanted {
    std::mutex lock;
    std::string udn;
    std::string location;
};
Wanted wanted;

// Runs on the stack's thread: every device heard is offered here with its
// description downloaded; the one with the wanted UDN is noted. The answer
// declines each, so that the control point is free for the next.
QN_RET searchHandler(QN_ENTITY entity, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_CP_ALIVE || arg == nullptr)
        return QN_OK;
    char udn[QN_VAL_MAX_LEN] = "";
    if (qnGetUdn(entity, udn, sizeof udn) == QN_OK) {
        std::lock_guard guard(wanted.lock);
        if (wanted.udn == udn && wanted.location.empty())
            wanted.location = static_cast<const char *>(arg);
    }
    return QN_ERR;
}

// A port for the event listener: the Callback names it, so it must be
// known before the listener opens.
uint16_t freePort(const std::string &addr)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    if (addr.empty() || inet_pton(AF_INET, addr.c_str(), &sa.sin_addr) != 1)
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
    uint16_t port = 0;
    socklen_t size = sizeof sa;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &size) == 0)
        port = ntohs(sa.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

QNApiCtrlPointSettings settingsFor(int cpType, const std::string &descFile, const std::string &addr,
                                   QNMsgHandler handler)
{
    QNApiCtrlPointSettings s{};
    s.cpType = cpType;
    copyText(s.descFile, sizeof s.descFile, descFile);
    s.notifyApp = 1;
    copyText(s.ipAddr, sizeof s.ipAddr, addr);
    s.eventPort = cpType == 0 ? 0 : freePort(addr);
    copyText(s.eventPath, sizeof s.eventPath, kEventPath);
    s.msgHandler = handler;
    return s;
}

QN_RET ignoreAll(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_OK; }

bool isUdn(const std::string &location) { return location.rfind("uuid:", 0) == 0; }

} // namespace

bool takeRemoteOptions(int argc, char **argv, RemoteOptions &options, std::vector<std::string> &rest)
{
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--addr" && i + 1 < argc) {
            options.addr = argv[++i];
        } else if (arg == "--wait" && i + 1 < argc) {
            char *end = nullptr;
            long s = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || s < 1 || s > 3600)
                return false;
            options.waitSeconds = static_cast<int>(s);
        } else {
            rest.push_back(arg);
        }
    }
    return true;
}

std::string faultJson(const QNApiAction &fault)
{
    std::string code, description;
    for (int i = 0; i < fault.argNum && i < QN_ARG_MAX_NUM; ++i) {
        if (std::strcmp(fault.argNV[i].name, "errorCode") == 0)
            code = fault.argNV[i].val;
        else if (std::strcmp(fault.argNV[i].name, "errorDescription") == 0)
            description = fault.argNV[i].val;
    }
    Json detail = Json::object();
    detail["code"] = code;
    detail["description"] = description;
    Json result = Json::object();
    result["fault"] = std::move(detail);
    return jsonText(result);
}

int failCommand(const char *command, const std::string &why, const std::string &said)
{
    std::fprintf(stderr, "qnsdk %s: %s\n", command, why.c_str());
    std::fputs(said.c_str(), stderr);
    return kExitFailure;
}

RemoteSession::RemoteSession() = default;

RemoteSession::~RemoteSession()
{
    (void)close();
}

bool RemoteSession::findLocation(const RemoteOptions &options, std::string *location, std::string *why)
{
    if (!isUdn(options.location)) {
        *location = options.location;
        return true;
    }
    {
        std::lock_guard guard(wanted.lock);
        wanted.udn = options.location;
        wanted.location.clear();
    }
    QNApiCtrlPointSettings s = settingsFor(0, "", options.addr, searchHandler);
    QN_CONTROL_POINT searcher = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    if (searcher == QN_INVALID_CONTROL_POINT) {
        *why = "no usable local address";
        return false;
    }
    qnChangeEntityState(searcher, ES_RUNNING);
    qnCPSearch(searcher, "", 1, nullptr);
    while (Clock::now() < deadline_) {
        std::this_thread::sleep_for(kPoll);
        std::lock_guard guard(wanted.lock);
        if (!wanted.location.empty()) {
            *location = wanted.location;
            break;
        }
    }
    qnRemoveCtrlPoint(searcher);
    if (location->empty())
        *why = "no device " + options.location + " answered";
    return !location->empty();
}

bool RemoteSession::open(const RemoteOptions &options, QNMsgHandler eventHandler, std::string *why)
{
    deadline_ = Clock::now() + std::chrono::seconds(options.waitSeconds);
    if (!output_.active()) {
        *why = "cannot keep the stack's messages off standard output";
        return false;
    }
    QNApiSdkConfig config{1, 0, 1 << 20, startServerThread, 0, 0};
    if (qnSdkInit(&config) != QN_OK || qnSdkRun() != QN_OK) {
        *why = "the stack did not start";
        return false;
    }
    running_ = true;
    std::string location;
    if (!findLocation(options, &location, why))
        return false;
    QNApiCtrlPointSettings s =
        settingsFor(2, location, options.addr, eventHandler != nullptr ? eventHandler : ignoreAll);
    cp_ = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    if (cp_ == QN_INVALID_CONTROL_POINT) {
        *why = "no usable local address";
        return false;
    }
    qnChangeEntityState(cp_, ES_RUNNING);
    qnCPSearch(cp_, "", 1, nullptr);
    char udn[QN_VAL_MAX_LEN];
    while (qnGetUdn(cp_, udn, sizeof udn) != QN_OK) {
        if (Clock::now() >= deadline_) {
            *why = "the device at " + location + " was not heard or could not be described";
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

QN_RET RemoteSession::untilTracked(const std::function<QN_RET()> &call, QN_RET untracked) const
{
    QN_RET rc = call();
    while (rc == untracked && Clock::now() < deadline_) {
        std::this_thread::sleep_for(kPoll);
        rc = call();
    }
    return rc;
}

std::string RemoteSession::close()
{
    if (running_) {
        qnSdkStop();
        qnSdkClean();
        running_ = false;
    }
    return output_.finish();
}

} // namespace qncli
