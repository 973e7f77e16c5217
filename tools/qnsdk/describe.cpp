// qnsdk describe PATH: loads a device description and the SCPDs beside it as
// a device entity that is never run (so no socket is opened) and prints its
// model.
#include "cliText.h"
#include "commands.h"
#include "modelJson.h"
#include "stackOutput.h"

#include "qnSdkApi.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace qncli {
namespace {

constexpr char kUsage[] = "usage: qnsdk describe [--] PATH\n";

struct DescPath {
    std::string dir;  // the directory, never empty, no trailing slash
    std::string file; // the file name, empty for a path that ends in a slash
};

// The stack reads localPath + "/" + descFile and treats an empty localPath
// as "ask the application", so the root directory is written "/.".
DescPath splitDescPath(std::string_view path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {".", std::string(path)};
    std::string dir(path.substr(0, slash));
    while (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    if (dir.empty())
        dir = "/.";
    return {dir, std::string(path.substr(slash + 1))};
}

// The entity is never run: no message but MT_READ_FILE could come, and with
// a local path not even that.
QN_RET refuseMessages(QN_ENTITY, int32_t, QN_COOKIE, void *) { return QN_ERR; }

// False when the directory or the file name does not fit the settings.
bool fillSettings(QNApiDevSettings &s, const DescPath &p)
{
    copyText(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.httpPort = 30909;
    s.soapPort = 30909;
    copyText(s.webPath, sizeof s.webPath, "/");
    s.msgHandler = refuseMessages;
    s.adPeriod = 20;
    return copyText(s.localPath, sizeof s.localPath, p.dir) && copyText(s.descFile, sizeof s.descFile, p.file);
}

int describeFile(const char *path)
{
    QNApiDevSettings settings{};
    if (!fillSettings(settings, splitDescPath(path))) {
        std::fprintf(stderr, "qnsdk describe: %s: directory or file name longer than %d characters\n", path,
                     QN_NAME_MAX_LEN - 1);
        return kExitFailure;
    }
    StackOutput output;
    if (!output.active()) {
        std::fprintf(stderr, "qnsdk describe: cannot keep the stack's messages off standard output\n");
        return kExitFailure;
    }
    QNApiSdkConfig config{1, 0, 65536, nullptr, 0, 0};
    std::string json;
    QN_DEVICE device = qnSdkInit(&config) == QN_OK ? qnAddDevice(&settings) : QN_INVALID_DEVICE;
    if (device != QN_INVALID_DEVICE) {
        json = jsonText(entityModel(device, path));
    }
    qnSdkClean();
    std::string said = output.finish();
    if (device == QN_INVALID_DEVICE) {
        std::fprintf(stderr, "qnsdk describe: %s: could not load the description\n", path);
        std::fputs(said.c_str(), stderr);
        return kExitFailure;
    }
    return writeResultLine(json) ? kExitOk : kExitFailure;
}

} // namespace

int runDescribe(int argc, char **argv)
{
    if (argc == 1 && (std::strcmp(argv[0], "--help") == 0 || std::strcmp(argv[0], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (argc == 2 && std::strcmp(argv[0], "--") == 0)
        return describeFile(argv[1]);
    if (argc != 1 || argv[0][0] == '-' || argv[0][0] == '\0') {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    return describeFile(argv[0]);
}

} // namespace qncli
