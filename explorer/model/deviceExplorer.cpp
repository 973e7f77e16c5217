#include "deviceExplorer.h"

#include "fileView.h"
#include "modelLock.h"

#include "text.h"

#include <atomic>
#include <utility>

namespace lumivar {

namespace {

std::atomic<DeviceExplorer *> current{nullptr};

using Fields = std::vector<std::pair<std::string, std::string>>;

// The model queries answer with pointers into the model: copied at once,
// while the stack's lock is held.
std::vector<std::string> listOf(QN_RET (*query)(QN_ENTITY, const char *, const char **, int32_t *), QN_ENTITY entity,
                                const std::string &type)
{
    std::vector<const char *> list(kTreeListCapacity);
    int32_t count = kTreeListCapacity;
    if (query(entity, type.c_str(), list.data(), &count) != QN_OK)
        return {};
    return {list.begin(), list.begin() + count};
}

std::vector<std::string> varsOf(QN_ENTITY entity, const std::string &serviceType)
{
    std::vector<const char *> list(kTreeListCapacity);
    int32_t count = kTreeListCapacity;
    if (qnGetVarList(entity, serviceType.c_str(), list.data(), nullptr, &count) != QN_OK)
        return {};
    return {list.begin(), list.begin() + count};
}

bool fieldsOf(QN_RET (*query)(QN_ENTITY, const char *, const char **, const char **, int32_t *), QN_ENTITY entity,
              const std::string &type, Fields &out)
{
    std::vector<const char *> names(kTreeListCapacity), values(kTreeListCapacity);
    int32_t count = kTreeListCapacity;
    if (query(entity, type.c_str(), names.data(), values.data(), &count) != QN_OK)
        return false;
    for (int32_t i = 0; i < count; ++i)
        out.emplace_back(names[i] != nullptr ? names[i] : "", values[i] != nullptr ? values[i] : "");
    return true;
}

std::string friendlyNameOf(const Fields &fields, const std::string &fallback)
{
    for (const auto &[name, value] : fields)
        if (name == "friendlyName" && !value.empty())
            return value.substr(0, kDeviceTextMaxLen);
    return fallback;
}

// The stack's display name of an entity: its root device's friendlyName,
// cut to kDeviceTextMaxLen; empty while no description is known.
std::string entityName(QN_ENTITY entity)
{
    Fields fields;
    if (entity == QN_INVALID_CONTROL_POINT || !fieldsOf(qnGetDevInfo, entity, "", fields))
        return {};
    return friendlyNameOf(fields, "");
}

// The devices of entity's description, root first, each by its friendly
// name (its type when it has none), for the File View.
void collectDeviceNames(QN_ENTITY entity, const std::string &deviceType, int depth, std::vector<std::string> &out)
{
    Fields fields;
    if (!fieldsOf(qnGetDevInfo, entity, deviceType, fields))
        return;
    std::string type = deviceType;
    if (type.empty()) {
        std::vector<std::string> rootType = listOf(qnGetDevList, entity, "");
        type = rootType.empty() ? "" : rootType.front();
    }
    out.push_back(friendlyNameOf(fields, type));
    if (type.empty() || depth >= kMaxDeviceDepth)
        return;
    for (const auto &d : listOf(qnGetDevList, entity, type))
        if (d != type)
            collectDeviceNames(entity, d, depth + 1, out);
}

} // namespace

DeviceExplorer::DeviceExplorer(AppSettings &settings) : settings_(settings) { current.store(this); }

DeviceExplorer::~DeviceExplorer()
{
    DeviceExplorer *self = this;
    // Handlers still running finish under the stack's lock before it is freed.
    ModelLock stack;
    current.compare_exchange_strong(self, nullptr);
}

bool DeviceExplorer::startExplorer(bool on)
{
    QN_CONTROL_POINT cp;
    {
        std::lock_guard guard(mutex_);
        if (on == running_)
            return true;
        cp = mainCp_;
    }
    if (!on || cp != QN_INVALID_CONTROL_POINT) {
        qnChangeEntityState(cp, on ? ES_RUNNING : ES_STOPPED);
        std::lock_guard guard(mutex_);
        running_ = on;
        return true;
    }
    QNApiCtrlPointSettings s{};
    s.cpType = CPT_PLAIN;
    s.notifyApp = 1;
    copyBounded(s.ipAddr, sizeof s.ipAddr, bindAddress_);
    std::string eventPath;
    {
        std::lock_guard guard(mutex_);
        s.eventPort = settings_.callbackPort;
        eventPath = usedCallbackPath(settings_);
    }
    s.extraPort = 0;
    copyBounded(s.eventPath, sizeof s.eventPath, eventPath);
    copyBounded(s.localPath, sizeof s.localPath, "/");
    s.msgHandler = onDeviceFound;
    cp = qnAddCtrlPoint(&s, QN_INVALID_CONTROL_POINT);
    if (cp == QN_INVALID_CONTROL_POINT)
        return false;
    qnChangeEntityState(cp, ES_RUNNING);
    {
        std::lock_guard guard(mutex_);
        mainCp_ = cp;
        running_ = true;
        tree_.root(NK_ACTIVE_ROOT).value = itemValue(NK_ACTIVE_ROOT, cp);
        tree_.notify({TreeNotification::NODE_CHANGED, tree_.root(NK_ACTIVE_ROOT).id, ""});
        if (stackRun_)
            return true;
        stackRun_ = true;
    }
    qnSdkRun();
    return true;
}

QN_CONTROL_POINT DeviceExplorer::mainControlPoint() const
{
    std::lock_guard guard(mutex_);
    return mainCp_;
}

bool DeviceExplorer::running() const
{
    std::lock_guard guard(mutex_);
    return running_;
}

QN_RET DeviceExplorer::onDeviceFound(QN_ENTITY entity, int32_t type, QN_COOKIE, void *arg)
{
    DeviceExplorer *self = current.load();
    if (type != MT_CP_ALIVE || self == nullptr || arg == nullptr)
        return 0;
    return self->deviceFound(entity, static_cast<const char *>(arg));
}

QN_RET DeviceExplorer::onDeviceUpdated(QN_ENTITY entity, int32_t type, QN_COOKIE, void *arg)
{
    DeviceExplorer *self = current.load();
    if (self == nullptr || arg == nullptr)
        return 0;
    if (type == MT_CP_EVENT)
        return self->eventReceived(entity, *static_cast<const QNApiEvent *>(arg));
    if (type != MT_CP_ALIVE)
        return 0;
    return self->deviceUpdated(entity, static_cast<const char *>(arg));
}

DeviceRecord DeviceExplorer::recordAt(int index)
{
    DeviceRecord &r = list_.at(index);
    if (r.name.empty())
        r.name = entityName(r.entity);
    return r;
}

// The main control point never keeps a device (it answers -1), so that it
// goes on hearing every device that no device control point claims.
QN_RET DeviceExplorer::deviceFound(QN_ENTITY cp, const std::string &location)
{
    ModelLock stack;
    std::lock_guard guard(mutex_);
    FilterDecision decision;
    bool judged = false;
    DeviceRecord record;
    int index = list_.find(cp, location);
    if (index >= 0) {
        record = recordAt(index);
        if (settings_.filterTime >= record.lastChecked) {
            decision = isFiltered(cp, settings_.filters, settings_.defaultPass);
            judged = true;
            if (decision.dropped) {
                record.filtered = true;
                if (record.entity != QN_INVALID_CONTROL_POINT) {
                    qnRemoveCtrlPoint(record.entity);
                    record.entity = QN_INVALID_CONTROL_POINT;
                }
            } else {
                record.filtered = false;
                if (record.entity == QN_INVALID_CONTROL_POINT &&
                    addControlPointLocked(cp, location, false, record))
                    log("Device at " + location + " explored\r\n");
            }
            record.lastChecked = tickSeconds();
        }
    } else {
        decision = isFiltered(cp, settings_.filters, settings_.defaultPass);
        judged = true;
        if (!addControlPointLocked(cp, location, decision.dropped, record))
            return -1;
        if (!decision.dropped)
            log("Device at " + location + " explored\r\n");
    }
    if (judged && decision.dropped && decision.decidingIndex >= 0)
        log(filteredLogLine(location, settings_.filters, decision.decidingIndex));
    refreshLocked(record);
    return -1;
}

// A device control point keeps its device (0) unless the filters now drop
// it; it is then removed.
QN_RET DeviceExplorer::deviceUpdated(QN_ENTITY cp, const std::string &location)
{
    ModelLock stack;
    std::lock_guard guard(mutex_);
    int index = list_.find(cp, location);
    if (index < 0) {
        for (size_t i = 0; i < list_.records().size() && index < 0; ++i)
            if (list_.records()[i].entity == cp)
                index = static_cast<int>(i);
        if (index < 0)
            return 0;
    }
    DeviceRecord record = recordAt(index);
    if (settings_.filterTime >= record.lastChecked) {
        FilterDecision decision = isFiltered(cp, settings_.filters, settings_.defaultPass);
        if (decision.dropped) {
            record.filtered = true;
            qnRemoveCtrlPoint(cp);
            record.entity = QN_INVALID_CONTROL_POINT;
            if (decision.decidingIndex >= 0)
                log(filteredLogLine(record.location, settings_.filters, decision.decidingIndex));
        } else {
            record.filtered = false;
        }
    }
    record.lastChecked = tickSeconds();
    refreshLocked(record);
    return record.filtered ? -1 : 0;
}

bool DeviceExplorer::addDeviceControlPoint(QN_CONTROL_POINT owner, const std::string &location, bool dropped,
                                           DeviceRecord &record)
{
    ModelLock stack;
    std::lock_guard guard(mutex_);
    return addControlPointLocked(owner, location, dropped, record);
}

bool DeviceExplorer::addControlPointLocked(QN_CONTROL_POINT owner, const std::string &location, bool dropped,
                                           DeviceRecord &record)
{
    std::string url = location;
    if (url.empty()) {
        char buf[kDeviceTextMaxLen] = "";
        if (qnGetDescUrl(owner, "", buf, sizeof buf) != QN_OK || buf[0] == '\0')
            return false;
        url = buf;
    }
    QN_CONTROL_POINT cp = QN_INVALID_CONTROL_POINT;
    std::string name;
    if (!dropped) {
        QNApiCtrlPointSettings s{};
        s.cpType = 2; // downloads its own device's description and every SCPD
        copyBounded(s.descFile, sizeof s.descFile, url);
        s.notifyApp = 1;
        copyBounded(s.ipAddr, sizeof s.ipAddr, bindAddress_);
        s.eventPort = settings_.callbackPort;
        s.extraPort = 9999;
        copyBounded(s.eventPath, sizeof s.eventPath, usedCallbackPath(settings_));
        copyBounded(s.localPath, sizeof s.localPath, "/");
        s.msgHandler = onDeviceUpdated;
        cp = qnAddCtrlPoint(&s, owner);
        if (cp == QN_INVALID_CONTROL_POINT) {
            debug("couldn't add ctcp\r\n");
            return false;
        }
        name = entityName(cp);
    }
    record.entity = cp;
    record.owner = owner;
    record.location = url;
    record.name = name;
    record.active = true;
    record.isVirtual = false;
    record.filtered = dropped;
    record.lastChecked = tickSeconds();
    list_.store(record);
    if (cp != QN_INVALID_CONTROL_POINT)
        qnChangeEntityState(cp, ES_RUNNING);
    return true;
}

void DeviceExplorer::refreshDevice(DeviceRecord &record)
{
    ModelLock stack;
    std::lock_guard guard(mutex_);
    refreshLocked(record);
}

void DeviceExplorer::storeDevice(DeviceRecord &record)
{
    ModelLock stack;
    std::lock_guard guard(mutex_);
    if (record.name.empty())
        record.name = entityName(record.entity);
    refreshLocked(record);
}

void DeviceExplorer::refreshLocked(DeviceRecord &record)
{
    if (record.filtered)
        record.name.clear();
    std::vector<std::string> deviceNames;
    if (!record.filtered && record.entity != QN_INVALID_CONTROL_POINT)
        collectDeviceNames(record.entity, "", 0, deviceNames);
    refreshFileView(fileView_, record, !record.name.empty() ? record.name : record.location, deviceNames);

    TreeNode &root = tree_.root(rootKindFor(record.active, record.isVirtual, record.filtered));
    TreeNode *node = tree_.findDevice(record.location);
    std::vector<EnteredValue> entered;
    if (node != nullptr && node->parent != &root) {
        entered = enteredValues(*node);
        tree_.notify({TreeNotification::NODE_CHANGED, node->parent->id, ""});
        tree_.removeNode(*node);
        node = nullptr;
    }
    std::string title = !record.name.empty() ? record.name : record.location;
    if (node == nullptr) {
        // Device nodes are appended, never looked up by title: two devices
        // may carry one friendly name.
        node = &tree_.appendChild(root, {title, NK_DEVICE, record.entity, NI_DEVICE});
        node->key = record.location;
    }
    node->text = title;
    node->value = itemValue(NK_DEVICE, record.entity);
    node->image = NI_DEVICE;
    if (record.filtered || record.entity == QN_INVALID_CONTROL_POINT)
        tree_.rebuildChildren(*node, {});
    else
        buildDevice(*node, record.entity, "", record.location, 0);
    restoreEnteredValues(*node, entered);
    root.expanded = true;
    tree_.notify({TreeNotification::NODE_CHANGED, root.id, ""});
    list_.store(record);
}

void DeviceExplorer::buildProperties(TreeNode &node, QN_ENTITY entity, const Fields &fields)
{
    std::vector<WantedChild> wanted;
    for (const auto &[name, value] : fields)
        wanted.push_back({name, propertyKindFor(name), entity, NI_ITEM});
    std::vector<TreeNode *> items = tree_.rebuildChildren(node, wanted);
    for (size_t i = 0; i < items.size(); ++i)
        tree_.rebuildChildren(*items[i], {{fields[i].second, static_cast<uint16_t>(wanted[i].kind + 1), entity,
                                           NI_ITEM}});
}

// deviceType "" is the root device. Devices are named by type, so of two
// embedded devices of one type both items show the first one's contents.
void DeviceExplorer::buildDevice(TreeNode &node, QN_ENTITY entity, const std::string &deviceType,
                                 const std::string &location, int depth)
{
    Fields fields;
    if (!fieldsOf(qnGetDevInfo, entity, deviceType, fields)) {
        tree_.rebuildChildren(node, {}); // the stack cannot list it (yet)
        return;
    }
    std::string type = deviceType;
    if (type.empty()) {
        std::vector<std::string> rootType = listOf(qnGetDevList, entity, "");
        type = rootType.empty() ? "" : rootType.front();
    }
    std::vector<WantedChild> wanted;
    bool isRoot = deviceType.empty();
    if (isRoot)
        wanted.push_back({"Location", NK_LOCATION, entity});
    wanted.push_back({"Properties", NK_PROPERTIES, entity});
    wanted.push_back({"Service List", NK_SERVICE_LIST, entity});
    wanted.push_back({"Dev List", NK_DEV_LIST, entity});
    std::vector<TreeNode *> parts = tree_.rebuildChildren(node, wanted);
    size_t at = 0;
    if (isRoot)
        tree_.rebuildChildren(*parts[at++], {{location, NK_LOCATION_URL, entity, NI_ITEM}});
    buildProperties(*parts[at++], entity, fields);

    std::vector<std::string> services = listOf(qnGetServList, entity, deviceType);
    std::vector<WantedChild> serviceItems;
    for (const auto &s : services)
        serviceItems.push_back({s, NK_SERVICE, entity});
    std::vector<TreeNode *> serviceNodes = tree_.rebuildChildren(*parts[at++], serviceItems);
    for (size_t i = 0; i < serviceNodes.size(); ++i)
        buildService(*serviceNodes[i], entity, services[i]);

    std::vector<std::string> devices;
    if (!type.empty() && depth < kMaxDeviceDepth)
        for (const auto &d : listOf(qnGetDevList, entity, type))
            if (d != type)
                devices.push_back(d);
    std::vector<WantedChild> deviceItems;
    for (const auto &d : devices)
        deviceItems.push_back({d, NK_DEVICE, entity, NI_DEVICE});
    std::vector<TreeNode *> deviceNodes = tree_.rebuildChildren(*parts[at], deviceItems);
    for (size_t i = 0; i < deviceNodes.size(); ++i)
        buildDevice(*deviceNodes[i], entity, devices[i], location, depth + 1);
}

void DeviceExplorer::buildService(TreeNode &node, QN_ENTITY entity, const std::string &serviceType)
{
    std::vector<TreeNode *> parts = tree_.rebuildChildren(node, {
                                                                    {"Subcription", NK_SUBSCRIPTION, entity},
                                                                    {"Properties", NK_PROPERTIES, entity},
                                                                    {"Actions", NK_ACTIONS, entity},
                                                                    {"Variables", NK_VARIABLES, entity},
                                                                });
    // parts[0]: the subscription's items belong to the event side and are
    // left as they are.
    Fields fields;
    (void)fieldsOf(qnGetServInfo, entity, serviceType, fields);
    buildProperties(*parts[1], entity, fields);

    std::vector<std::string> actions = listOf(qnGetActionList, entity, serviceType);
    std::vector<WantedChild> actionItems;
    for (const auto &a : actions)
        actionItems.push_back({a, NK_ACTION, entity, NI_ITEM});
    std::vector<TreeNode *> actionNodes = tree_.rebuildChildren(*parts[2], actionItems);
    for (size_t i = 0; i < actionNodes.size(); ++i) {
        QNApiAction action{};
        copyBounded(action.action, sizeof action.action, actions[i]);
        std::vector<WantedChild> args;
        if (qnGetActionArgVars(entity, serviceType.c_str(), &action) == QN_OK)
            for (int k = 0; k < action.argNum && k < QN_ARG_MAX_NUM; ++k)
                args.push_back({action.argNV[k].name, NK_ARGUMENT, entity,
                                action.argDirection[k] == AD_OUT ? NI_ARG_OUT : NI_ARG_IN});
        tree_.rebuildChildren(*actionNodes[i], args);
    }

    std::vector<WantedChild> varItems;
    for (const auto &v : varsOf(entity, serviceType))
        varItems.push_back({v, NK_VARIABLE, entity, NI_ITEM});
    for (TreeNode *variable : tree_.rebuildChildren(*parts[3], varItems))
        showKnownValue(*variable, entity);
}

// A variable whose value arrived (by an event) before its item existed
// shows it; one that never sent a value gets an empty entry (time 0) in the
// event value table, so that the Event window lists it with empty cells.
void DeviceExplorer::showKnownValue(TreeNode &variable, QN_ENTITY entity)
{
    for (const auto &c : variable.children)
        if (c->kind() == NK_VARIABLE_VALUE)
            return;
    std::optional<EventEntry> entry = events_.find(static_cast<uint32_t>(entity), variable.text);
    if (!entry)
        events_.store(static_cast<uint32_t>(entity), variable.text, "", 0);
    else if (entry->time != 0)
        tree_.rebuildChildren(variable, {{entry->value, NK_VARIABLE_VALUE, entity, NI_ITEM}});
}

void DeviceExplorer::changeFilters(std::vector<FilterRecord> filters, bool defaultPass)
{
    std::lock_guard guard(mutex_);
    settings_.filters = std::move(filters);
    settings_.defaultPass = defaultPass;
    settings_.filterTime = tickSeconds();
}

std::vector<TreeNotification> DeviceExplorer::takeNotifications()
{
    std::lock_guard guard(mutex_);
    std::vector<TreeNotification> out = tree_.takeNotifications();
    for (auto &n : fileView_.takeNotifications())
        out.push_back(std::move(n));
    return out;
}

void DeviceExplorer::readTree(const std::function<void(const DeviceTree &)> &reader) const
{
    std::lock_guard guard(mutex_);
    reader(tree_);
}

void DeviceExplorer::readFileView(const std::function<void(const DeviceTree &)> &reader) const
{
    std::lock_guard guard(mutex_);
    reader(fileView_);
}

std::vector<DeviceRecord> DeviceExplorer::devices() const
{
    std::lock_guard guard(mutex_);
    return list_.records();
}

std::string DeviceExplorer::dumpTree() const
{
    std::lock_guard guard(mutex_);
    return tree_.dump();
}

void DeviceExplorer::editTree(const std::function<void(DeviceTree &)> &editor)
{
    std::lock_guard guard(mutex_);
    editor(tree_);
}

} // namespace lumivar
