#include "virtualDevices.h"

#include "modelLock.h"
#include "virtualFiles.h"

#include "text.h"

#include <atomic>
#include <cstring>
#include <optional>

namespace lumivar {

namespace {

std::atomic<VirtualDevices *> current{nullptr};
std::atomic<uint32_t> argumentCounter{0};
std::atomic<uint32_t> variableCounter{0};

constexpr const char *kAlreadyOpened = "File/Device already opened!";
constexpr const char *kNoUrl = "Unable to get url!";
constexpr const char *kNotAdded = "Unable to add device!";
constexpr const char *kNotAddedDebug = "couldn't add ctDev\r\n";
constexpr const char *kNotUnloadedDebug = "File/Device not unloaded!?\r\n";

struct PathParts {
    std::string directory;
    std::string file;
};

// The stack's URL splitter finds the file name after the last separator;
// the directory is what lies between the prefix and that separator.
std::optional<PathParts> splitLocation(const std::string &location)
{
    const size_t prefix = std::strlen(kFileLocationPrefix);
    char scheme[QN_NAME_MAX_LEN], path[QN_VAL_MAX_LEN];
    uint32_t addr = 0;
    uint16_t port = 0;
    if (location.size() <= prefix ||
        parseUrl(location.c_str(), scheme, sizeof scheme, &addr, &port, path, sizeof path) != 0 ||
        std::strcmp(scheme, "file") != 0)
        return std::nullopt;
    size_t sep = location.find_last_of("/\\");
    if (sep == std::string::npos || sep < prefix || path[0] == '\0' || path[1] == '\0')
        return std::nullopt;
    return PathParts{location.substr(prefix, sep - prefix), path + 1};
}

std::string numbered(const char *stem, std::atomic<uint32_t> &counter)
{
    return stem + std::to_string(counter.fetch_add(1));
}

} // namespace

VirtualDevices::VirtualDevices(DeviceExplorer &explorer, AppSettings &settings, UserPrompts &prompts)
    : explorer_(explorer), settings_(settings), prompts_(prompts)
{
    current.store(this);
}

VirtualDevices::~VirtualDevices()
{
    VirtualDevices *self = this;
    // A handler still running finishes under the stack's lock first.
    ModelLock stack;
    current.compare_exchange_strong(self, nullptr);
}

uint32_t VirtualDevices::nextArgumentNumber() { return argumentCounter.load(); }
uint32_t VirtualDevices::nextVariableNumber() { return variableCounter.load(); }

bool VirtualDevices::refuseLoad(const std::string &message)
{
    explorer_.postDebugLine(kNotAddedDebug);
    prompts_.messageBox(message);
    return false;
}

bool VirtualDevices::loadXmlFile(const std::string &path)
{
    const std::string location = kFileLocationPrefix + path;
    if (explorer_.hasDevice(location)) {
        prompts_.messageBox(kAlreadyOpened);
        return false;
    }
    std::optional<PathParts> parts = splitLocation(location);
    if (!parts)
        return refuseLoad(kNoUrl);
    // Cut, they would name another folder or file.
    if (parts->directory.size() > kLoadedPathPartMaxLen || parts->file.size() > kLoadedPathPartMaxLen)
        return refuseLoad(kNotAdded);
    QNApiDevSettings s{};
    copyBounded(s.ipAddr, sizeof s.ipAddr, bindAddress_);
    s.httpPort = settings_.webServerPort;
    s.soapPort = settings_.controlPort;
    copyBounded(s.localPath, sizeof s.localPath, parts->directory);
    copyBounded(s.webPath, sizeof s.webPath, kVirtualWebPath);
    copyBounded(s.descFile, sizeof s.descFile, parts->file);
    s.msgHandler = virtualDeviceHandler;
    s.adPeriod = static_cast<int32_t>(settings_.adPeriod);
    copyBounded(s.serverName, sizeof s.serverName, kVirtualServerName);
    s.noFileService = 0;
    {
        // Added and recorded in one step: no one sees the entity without
        // its record.
        ModelLock stack;
        QN_DEVICE device = qnAddDevice(&s);
        if (device != QN_INVALID_DEVICE) {
            // Loaded files are neither active nor virtual until they run.
            DeviceRecord record{.entity = device,
                                .owner = QN_INVALID_DEVICE,
                                .location = location,
                                .active = false,
                                .lastChecked = tickSeconds()};
            explorer_.storeDevice(record);
            return true;
        }
    }
    return refuseLoad(kNotAdded);
}

// The kind of the entity decides how it goes, not the record's active flag:
// a running virtual device is active and still a device entity.
void VirtualDevices::unloadXmlFile(uint64_t selectedId)
{
    ModelLock stack;
    if (std::optional<DeviceRecord> record = explorer_.deviceOfNode(selectedId)) {
        QN_RET kind = qnCheckDevice(record->entity);
        if (kind == QN_OK)
            qnRemoveDevice(record->entity);
        else if (kind == QN_ERR)
            qnRemoveCtrlPoint(record->entity);
        explorer_.forgetDevice(record->location);
    }
    if (explorer_.hasNode(selectedId))
        explorer_.postDebugLine(kNotUnloadedDebug);
}

bool VirtualDevices::runVirtualDevice(uint64_t selectedId, bool run)
{
    ModelLock stack;
    std::optional<DeviceRecord> record = explorer_.deviceOfNode(selectedId);
    if (!record || record->owner != QN_INVALID_DEVICE || qnCheckDevice(record->entity) != QN_OK)
        return false;
    if (record->active == run && record->isVirtual == run)
        return true;
    if (qnChangeEntityState(record->entity, run ? ES_RUNNING : ES_STOPPED) != QN_OK)
        return false;
    record->active = run;
    record->isVirtual = run;
    explorer_.storeDevice(*record);
    return true;
}

QN_RET VirtualDevices::virtualDeviceHandler(QN_ENTITY entity, int32_t type, QN_COOKIE, void *arg)
{
    switch (type) {
    case MT_READ_FILE:
        return readVirtualFile(entity, static_cast<QNApiFileInfo *>(arg));
    case MT_DEV_ACTION:
        return answerAction(entity, static_cast<QNApiAction *>(arg));
    case MT_DEV_GET_VAR:
        return answerQuery(entity, static_cast<QNNameVal *>(arg));
    default:
        return QN_OK;
    }
}

// The answer lists every argument that is not an in argument, in the
// SCPD's order, with what was entered in the tree or a numbered default.
QN_RET VirtualDevices::answerAction(QN_ENTITY device, QNApiAction *action)
{
    if (action == nullptr)
        return QN_ERR_ARG;
    ModelLock stack;
    QNApiAction defined{};
    copyBounded(defined.action, sizeof defined.action,
                std::string_view(action->action, strnlen(action->action, sizeof action->action)));
    if (qnGetActionArgs(device, &defined) != QN_OK)
        return QN_ERR_NODESC;
    VirtualDevices *self = current.load();
    std::optional<DeviceExplorer::ArgumentValues> entered =
        self != nullptr ? self->explorer_.argumentValues(device, defined.action) : std::nullopt;
    uint16_t count = 0;
    for (int k = 0; k < defined.argNum && k < QN_ARG_MAX_NUM; ++k) {
        if (defined.argDirection[k] == AD_IN)
            continue;
        std::string value;
        if (entered)
            for (const auto &[name, text] : *entered)
                if (name == defined.argNV[k].name) {
                    value = text;
                    break;
                }
        if (value.empty())
            value = numbered(kArgValueStem, argumentCounter);
        qnSetNVNameVal(&action->argNV[count], defined.argNV[k].name, value.c_str());
        action->argDirection[count] = defined.argDirection[k];
        ++count;
    }
    action->argNum = count;
    return QN_OK;
}

QN_RET VirtualDevices::answerQuery(QN_ENTITY device, QNNameVal *variable)
{
    if (variable == nullptr)
        return QN_ERR_ARG;
    ModelLock stack;
    std::string name(variable->name, strnlen(variable->name, sizeof variable->name));
    VirtualDevices *self = current.load();
    std::optional<std::string> entered = self != nullptr ? self->explorer_.variableValue(device, name) : std::nullopt;
    std::string value = entered && !entered->empty() ? *entered : numbered(kVarValueStem, variableCounter);
    qnSetNVVal(variable->val, value.c_str());
    return QN_OK;
}

} // namespace lumivar
