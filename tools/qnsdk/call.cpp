// qnsdk call LOCATION SERVICE_TYPE ACTION [NAME=VALUE...] [--addr IP] [--wait S]:
// invokes an action of a remote device and prints its out-arguments,
//   {"action":"GetStatus","out":{"ResultStatus":"1"}}
// or, when the device answers with a SOAP fault (exit status 1),
//   {"fault":{"code":"401","description":"Invalid Action"}}
// LOCATION is the device's description URL, or its UDN (searched for).
#include "cliText.h"
#include "commands.h"
#include "json.h"
#include "remoteDevice.h"
#include "stackOutput.h"

#include "qnSdkApi.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace qncli {
namespace {

constexpr char kUsage[] =
    "usage: qnsdk call LOCATION SERVICE_TYPE ACTION [NAME=VALUE...] [--addr IP] [--wait S]\n";

// The in-arguments, in the order given. False for one without "=", or
// for more than a record holds.
bool readArguments(const std::vector<std::string> &args, QNApiAction &action)
{
    if (args.size() > QN_ARG_MAX_NUM)
        return false;
    for (const std::string &arg : args) {
        size_t eq = arg.find('=');
        if (eq == std::string::npos || eq == 0)
            return false;
        QNNameVal &nv = action.argNV[action.argNum];
        if (!copyText(nv.name, sizeof nv.name, arg.substr(0, eq)) ||
            !copyText(nv.val, sizeof nv.val, arg.substr(eq + 1)))
            return false;
        action.argDirection[action.argNum++] = AD_IN;
    }
    return true;
}

// An out-argument that repeats a name keeps its first value.
std::string resultJson(const QNApiAction &answer, const std::string &name)
{
    Json out = Json::object();
    for (int i = 0; i < answer.argNum && i < QN_ARG_MAX_NUM; ++i)
        addFirst(out, answer.argNV[i].name, answer.argNV[i].val);
    Json result = Json::object();
    result["action"] = name;
    result["out"] = std::move(out);
    return jsonText(result);
}

} // namespace

int runCall(int argc, char **argv)
{
    if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    RemoteOptions options;
    std::vector<std::string> rest;
    QNApiAction action{};
    if (!takeRemoteOptions(argc, argv, options, rest) || rest.size() < 3 ||
        !copyText(action.action, sizeof action.action, rest[2]) || rest[2].empty() ||
        !readArguments(std::vector<std::string>(rest.begin() + 3, rest.end()), action)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    options.location = rest[0];
    const std::string serviceType = rest[1];
    RemoteSession session;
    std::string why;
    if (!session.open(options, nullptr, &why))
        return failCommand("call", why, session.close());
    QN_RET rc = session.untilTracked([&] { return qnCPSoapAction(session.cp(), serviceType.c_str(), &action); });
    std::string said = session.close();
    if (rc == QN_OK)
        return writeResultLine(resultJson(action, rest[2])) ? kExitOk : kExitFailure;
    if (rc == QN_ERR) {
        (void)writeResultLine(faultJson(action));
        return kExitFailure;
    }
    return failCommand("call", "the call failed (" + std::to_string(rc) + ")", said);
}

} // namespace qncli
