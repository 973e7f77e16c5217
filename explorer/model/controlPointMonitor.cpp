#include "controlPointMonitor.h"

#include "modelLock.h"

#include "text.h"

#include <atomic>

namespace lumivar {

namespace {

std::atomic<ControlPointMonitor *> current{nullptr};

constexpr const char *kNotAdded = "Unable to add universal device!";

} // namespace

ControlPointMonitor::ControlPointMonitor(AppSettings &settings, UserPrompts &prompts)
    : settings_(settings), prompts_(prompts)
{
    current.store(this);
}

ControlPointMonitor::~ControlPointMonitor()
{
    ControlPointMonitor *self = this;
    // A handler still running finishes under the stack's lock first.
    ModelLock stack;
    current.compare_exchange_strong(self, nullptr);
}

bool ControlPointMonitor::startMonitor(bool on)
{
    {
        // The stack's lock first, then the mutex; it also keeps two starts
        // from adding two universal devices.
        ModelLock stack;
        QN_DEVICE device;
        {
            std::lock_guard guard(mutex_);
            if (on == running_)
                return true;
            device = entity_;
        }
        if (!on || device != QN_INVALID_DEVICE) {
            if (qnChangeEntityState(device, on ? ES_RUNNING : ES_STOPPED) != QN_OK)
                return false;
            std::lock_guard guard(mutex_);
            running_ = on;
            return true;
        }
        QNApiDevSettings s{};
        copyBounded(s.ipAddr, sizeof s.ipAddr, bindAddress_);
        s.httpPort = settings_.webServerPort;
        s.soapPort = settings_.controlPort;
        copyBounded(s.localPath, sizeof s.localPath, usedLocalFilesPath(settings_));
        s.msgHandler = monitorHandler;
        s.adPeriod = static_cast<int32_t>(settings_.adPeriod);
        copyBounded(s.serverName, sizeof s.serverName, kMonitorServerName);
        s.noFileService = 1;
        device = qnAddDevice(&s);
        if (device != QN_INVALID_DEVICE && qnChangeEntityState(device, ES_RUNNING) == QN_OK) {
            std::lock_guard guard(mutex_);
            entity_ = device;
            running_ = true;
            return true;
        }
        if (device != QN_INVALID_DEVICE)
            qnRemoveDevice(device);
        std::lock_guard guard(mutex_);
        pending_.push_back({TreeNotification::DEBUG_LINE, 0, std::string(kNotAdded) + "\r\n"});
    }
    prompts_.messageBox(kNotAdded);
    return false;
}

bool ControlPointMonitor::running() const
{
    std::lock_guard guard(mutex_);
    return running_;
}

QN_DEVICE ControlPointMonitor::entity() const
{
    std::lock_guard guard(mutex_);
    return entity_;
}

QN_RET ControlPointMonitor::monitorHandler(QN_ENTITY, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_DEV_SEARCH)
        return QN_OK;
    const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg));
    if (address == 0)
        return QN_ERR;
    ControlPointMonitor *self = current.load();
    return self != nullptr ? self->searched(address) : QN_OK;
}

QN_RET ControlPointMonitor::searched(uint32_t address)
{
    char text[QN_NAME_MAX_LEN];
    formatAddr(address, 80, text, sizeof text); // port 80: the address alone
    std::lock_guard guard(mutex_);
    for (const auto &e : entries_)
        if (e.address == text)
            return QN_OK;
    entries_.push_back({nextId_++, text});
    pending_.push_back({TreeNotification::NODE_CHANGED, kControlPointRootId, ""});
    return QN_OK;
}

std::vector<MonitorEntry> ControlPointMonitor::controlPoints() const
{
    std::lock_guard guard(mutex_);
    return entries_;
}

std::vector<TreeNotification> ControlPointMonitor::takeNotifications()
{
    std::lock_guard guard(mutex_);
    std::vector<TreeNotification> out;
    out.swap(pending_);
    for (auto &n : out)
        n.document = TreeNotification::MONITOR;
    return out;
}

} // namespace lumivar
