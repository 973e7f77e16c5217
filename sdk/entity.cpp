// The qn API's stack control and entity table: start, run, stop and clean
// the stack; change, remove and look up entities.
#include "entity.h"

#include "download.h"
#include "gena.h"
#include "ifaceTable.h"
#include "localAddr.h"
#include "log.h"
#include "roles.h"
#include "ssdp.h"
#include "ssdpPace.h"
#include "scpd.h"
#include "text.h"

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

namespace {

// A slot's storage is allocated the first time the slot is used and kept
// for the life of the process: a process pays for the entities it uses, not
// for the table's capacity, and a pointer to a slot stays valid after the
// entity is removed (a handler may remove its own entity while the server
// thread still holds the slot).
EntitySlot *table[QN_MAX_ENTITY];
QNApiSdkConfig sdkConfig;
bool sdkConfigured = false;

// Set while the server loop runs on a thread of its own, so that
// qnSdkClean can wait for it to end.
std::atomic<bool> loopRunning{false};
std::atomic<std::thread::id> loopThread{};

void *serverThreadEntry(void *)
{
    loopThread.store(std::this_thread::get_id());
    serverLoop();
    loopRunning.store(false);
    return nullptr;
}

const char *serverNameOfHandler(const MsgHandler *handler)
{
    return entityServerName(entityOf(handler));
}

// The number of handlers an entity of this slot has registered, in order.
int roleCount(const EntitySlot &slot)
{
    return slot.kind == EK_CTRL_POINT ? kRolesPerEntity : 4;
}

int applyToHandlers(EntitySlot &slot, int command)
{
    for (int i = 0; i < roleCount(slot); ++i) {
        if (!slot.registered[i])
            continue;
        int rc = setRunState(&slot.handlers[i], command);
        if (rc != 0)
            return rc;
    }
    return QN_OK;
}

} // namespace

void unregisterRoles(EntitySlot &slot)
{
    for (int i = 0; i < kRolesPerEntity; ++i) {
        if (slot.registered[i])
            (void)unregHandler(&slot.handlers[i]);
        slot.registered[i] = false;
    }
}

namespace {

void detachFromParent(EntitySlot &slot)
{
    EntitySlot *parent = entityAt(slot.parent);
    if (parent == nullptr || parent->kind != EK_CTRL_POINT)
        return;
    for (int i = 0; i < parent->childCount; ++i) {
        if (parent->children[i] != slot.self)
            continue;
        for (int k = i; k + 1 < parent->childCount; ++k)
            parent->children[k] = parent->children[k + 1];
        --parent->childCount;
        return;
    }
}

void clearSlot(EntitySlot &slot)
{
    QN_ENTITY self = slot.self;
    slot = EntitySlot{};
    slot.self = self;
}

} // namespace

EntitySlot *takeFreeSlot()
{
    for (int i = 0; i < QN_MAX_ENTITY; ++i) {
        if (table[i] == nullptr) {
            table[i] = new (std::nothrow) EntitySlot{};
            if (table[i] == nullptr)
                return nullptr;
            table[i]->self = i;
        }
        if (table[i]->kind == EK_FREE)
            return table[i];
    }
    return nullptr;
}

EntitySlot *entityAt(QN_ENTITY entity)
{
    if (entity < 0 || entity >= QN_MAX_ENTITY || table[entity] == nullptr || table[entity]->kind == EK_FREE)
        return nullptr;
    return table[entity];
}

EntitySlot *entityOf(const MsgHandler *handler)
{
    if (handler == nullptr || handler->priv == nullptr)
        return nullptr;
    return static_cast<const RoleBlock *>(handler->priv)->slot;
}

bool isOwnListener(uint32_t addr, uint16_t port)
{
    if (!isLocalAddr(addr))
        return false;
    uint16_t wanted = ntohs(port);
    for (QN_ENTITY e = 0; e < QN_MAX_ENTITY; ++e) {
        const EntitySlot *slot = entityAt(e);
        for (int i = 0; slot != nullptr && i < kRolesPerEntity; ++i) {
            // A registered handler's record is the server's: it knows the
            // port the system chose for a listener configured with port 0.
            const SockInfo *sock = slot->registered[i] ? slot->handlers[i].sock : nullptr;
            if (sock != nullptr && sock->kind == SP_TCP_SERVER && (sock->port == wanted || sock->listenPort == wanted))
                return true;
        }
    }
    return false;
}

QNRootDesc *entityDesc(QN_ENTITY entity)
{
    EntitySlot *slot = entityAt(entity);
    return slot != nullptr ? slot->desc : nullptr;
}

const char *entityServerName(const EntitySlot *slot)
{
    if (slot != nullptr && slot->kind == EK_DEVICE && slot->dev.serverName[0] != '\0')
        return slot->dev.serverName;
    return kDefaultServerName;
}

void releaseModel(EntitySlot *slot)
{
    if (slot->desc == nullptr)
        return;
    freeDesc(slot->desc);
    delete slot->desc;
    slot->desc = nullptr;
}

extern "C" QN_RET qnSdkInit(const QNApiSdkConfig *config)
{
    if (config == nullptr)
        return QN_ERR_ARG;
    if (config->majorVer != 1 || config->minorVer != 0)
        return QN_ERR_VERSION;
    std::lock_guard guard(stackLock());
    sdkConfig = *config;
    sdkConfigured = true;
    setServerNameLookup(serverNameOfHandler);
    return QN_OK;
}

extern "C" QN_RET qnSdkRun(void)
{
    QNCreateThreadFunc create = nullptr;
    int32_t stackSize = 0;
    {
        std::lock_guard guard(stackLock());
        // A server that has ended may be started again (a new qnSdkInit /
        // qnSdkRun cycle in the same process).
        if (serverState() == SS_ENDED)
            serverRestart();
        setRunState(nullptr, ES_RUNNING);
        timerEnable(true);
        if (sdkConfigured) {
            create = sdkConfig.createThreadFunc;
            stackSize = sdkConfig.stackSize;
        }
    }
    if (create == nullptr)
        return serverLoop();
    loopRunning.store(true);
    QN_RET rc = create(serverThreadEntry, stackSize);
    if (rc != QN_OK)
        loopRunning.store(false);
    return rc;
}

extern "C" QN_RET qnSdkStop(void)
{
    setRunState(nullptr, ES_STOPPED);
    return QN_OK;
}

extern "C" QN_RET qnSdkClean(void)
{
    setRunState(nullptr, ES_STOPPED);
    // Once qnSdkClean returns no handler of the application is called any
    // more, so that it may release what its handlers use. The loop notices
    // the stop within one poll period; the server thread itself cannot wait.
    if (loopThread.load() != std::this_thread::get_id()) {
        for (int i = 0; i < 100 && loopRunning.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::lock_guard guard(stackLock());
    for (int i = 0; i < QN_MAX_ENTITY; ++i) {
        EntitySlot *slot = entityAt(i);
        if (slot != nullptr && slot->kind == EK_DEVICE)
            qnRemoveDevice(i);
        else if (slot != nullptr && slot->kind == EK_CTRL_POINT)
            qnRemoveCtrlPoint(i);
    }
    ssdpPaceReset();
    genaForgetHeldEvents();
    genaDropQueued();
    serverReset();
    return QN_OK;
}

// The local address of settings that name none is found before the lock
// is taken: the search may ask the resolver for the host's own name, and
// nothing waits for a resolver under the lock.
extern "C" QN_DEVICE qnAddDevice(const QNApiDevSettings *settings)
{
    if (settings == nullptr)
        return addDevice(nullptr);
    QNApiDevSettings s = *settings;
    (void)getLocalAddr(nullptr, s.ipAddr, sizeof s.ipAddr);
    std::lock_guard guard(stackLock());
    return addDevice(&s);
}

extern "C" QN_CONTROL_POINT qnAddCtrlPoint(const QNApiCtrlPointSettings *settings, QN_CONTROL_POINT parent)
{
    if (settings == nullptr)
        return addCtrlPoint(nullptr, parent);
    QNApiCtrlPointSettings s = *settings;
    (void)getLocalAddr(nullptr, s.ipAddr, sizeof s.ipAddr);
    std::lock_guard guard(stackLock());
    return addCtrlPoint(&s, parent);
}

extern "C" QN_RET qnChangeEntityState(QN_ENTITY entity, int32_t command)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(entity);
    if (slot == nullptr)
        return QN_ERR_ARG;
    if (slot->kind == EK_DEVICE) {
        MsgHandler &ssdp = slot->handlers[DR_SSDP];
        bool leaving = command == ES_STOPPED || command == ES_PAUSED || command == ES_BYEBYE;
        if (slot->registered[DR_SSDP] && ssdp.state == ES_RUNNING && leaving) {
            slot->announceAlive = false;
            (void)advertiseOnce(&ssdp); // announces byebye
        }
        // A device that runs again is alive again, whatever it said before.
        if (command == ES_RUNNING)
            slot->announceAlive = true;
        // A running device must advertise: never run one whose schedule is lost.
        if (command == ES_RUNNING && !slot->universal && slot->registered[DR_SSDP] &&
            armAdvertisement(&ssdp) != 0)
            return QN_ERR_NOMEM;
    }
    return applyToHandlers(*slot, command);
}

extern "C" QN_RET qnRemoveDevice(QN_DEVICE device)
{
    std::lock_guard guard(stackLock());
    if (device < 0 || device >= QN_MAX_ENTITY)
        return QN_ERR_ARG;
    EntitySlot *found = entityAt(device);
    if (found == nullptr || found->kind != EK_DEVICE)
        return found != nullptr ? found->kind : EK_FREE;
    EntitySlot &slot = *found;
    qnChangeEntityState(device, ES_STOPPED);
    genaForgetDevice(device);
    releaseModel(&slot);
    unregisterRoles(slot); // also drops the advertisement timer
    clearSlot(slot);
    return 0;
}

extern "C" QN_RET qnRemoveCtrlPoint(QN_CONTROL_POINT cp)
{
    std::lock_guard guard(stackLock());
    if (cp < 0 || cp >= QN_MAX_ENTITY)
        return QN_ERR_ARG;
    EntitySlot *found = entityAt(cp);
    if (found == nullptr || found->kind != EK_CTRL_POINT)
        return found != nullptr ? found->kind : EK_FREE;
    EntitySlot &slot = *found;
    qnChangeEntityState(cp, ES_STOPPED);
    downloadForget(cp);
    releaseModel(&slot);
    unregisterRoles(slot);
    detachFromParent(slot);
    clearSlot(slot);
    return 0;
}

extern "C" void *qnGetSettings(QN_ENTITY entity)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(entity);
    if (slot == nullptr)
        return nullptr;
    return slot->kind == EK_DEVICE ? static_cast<void *>(&slot->dev) : static_cast<void *>(&slot->cp);
}

extern "C" QN_RET qnCheckDevice(QN_ENTITY entity)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(entity);
    if (slot == nullptr)
        return QN_ERR_ARG;
    return slot->kind == EK_DEVICE ? QN_OK : QN_ERR;
}

extern "C" QN_RET qnCPSearch(QN_CONTROL_POINT cp, const char *target, uint16_t searchValue, QN_COOKIE *cookie)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(cp);
    if (slot == nullptr || slot->kind != EK_CTRL_POINT)
        return QN_ERR_ARG;
    if (cookie != nullptr)
        *cookie = 2222;
    copyBounded(slot->searchTarget, sizeof slot->searchTarget, target ? target : "");
    slot->searchValue = searchValue;
    return cpSearchTask(&slot->handlers[CR_SEARCH]);
}

// The model lock is the stack's lock: the server thread changes models only
// while it holds it, so a batch of queries under it sees one whole model.
extern "C" void qnLockModel(void)
{
    stackLock().lock();
}

extern "C" void qnUnlockModel(void)
{
    stackLock().unlock();
}
