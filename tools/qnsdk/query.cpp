// qnsdk query LOCATION SERVICE_TYPE VARIABLE [--addr IP] [--wait S]: asks a
// remote device for the value of a state variable (QueryStateVariable),
//   {"variable":"Status","value":"1"}
// or prints the SOAP fault the device answered with (exit status 1).
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

constexpr char kUsage[] = "usage: qnsdk query LOCATION SERVICE_TYPE VARIABLE [--addr IP] [--wait S]\n";

} // namespace

int runQuery(int argc, char **argv)
{
    if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    RemoteOptions options;
    std::vector<std::string> rest;
    QNApiAction query{};
    if (!takeRemoteOptions(argc, argv, options, rest) || rest.size() != 3 || rest[2].empty() ||
        !copyText(query.argNV[0].name, sizeof query.argNV[0].name, rest[2])) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    query.argNum = 1;
    options.location = rest[0];
    const std::string serviceType = rest[1];
    RemoteSession session;
    std::string why;
    if (!session.open(options, nullptr, &why))
        return failCommand("query", why, session.close());
    QN_RET rc = session.untilTracked([&] { return qnCPSoapQuery(session.cp(), serviceType.c_str(), &query); });
    std::string said = session.close();
    if (rc == QN_OK) {
        Json result = Json::object();
        result["variable"] = rest[2];
        result["value"] = query.argNV[0].val;
        return writeResultLine(jsonText(result)) ? kExitOk : kExitFailure;
    }
    if (rc == QN_ERR && std::strcmp(query.action, "Fault") == 0) {
        (void)writeResultLine(faultJson(query));
        return kExitFailure;
    }
    return failCommand("query", rc == QN_ERR ? "the answer holds no single value"
                                             : "the query failed (" + std::to_string(rc) + ")",
                       said);
}

} // namespace qncli
