// The public model queries: lists of embedded devices, services, actions and
// state variables, the fields of a device or service, the arguments of an
// action, and single values (description URL, UDN, address).
//
// Every query holds the stack lock for its whole body: the server thread
// parses and releases models (description downloads, removals) while the
// application asks. Returned strings point into the model and stay valid
// until it is released or parsed again.
#include "query.h"

#include "entity.h"
#include "text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

const char *fieldOf(const QNNameVal *fields, int count, const char *name)
{
    return findNameVal(fields, std::min(count, kMaxFields), name);
}

const char *deviceType(const QNDevDesc *dev)
{
    return dev != nullptr ? fieldOf(dev->fields, dev->fieldCount, "deviceType") : nullptr;
}

const char *serviceType(const QNServDesc *serv)
{
    return serv != nullptr ? fieldOf(serv->fields, serv->fieldCount, "serviceType") : nullptr;
}

// The device named by type; the empty type names the root device.
QNDevDesc *deviceNamed(QNRootDesc *root, const char *type)
{
    return type[0] == '\0' ? &root->device : findDeviceByType(&root->device, type);
}

bool capacityGiven(const int32_t *count)
{
    return count != nullptr && *count > 0;
}

// Fills list with entry(i) for the first min(capacity, available) entries.
template <typename Entry>
QN_RET fillList(const char **list, int32_t *count, int available, Entry entry)
{
    int n = std::min<int>(*count, available);
    for (int i = 0; i < n; ++i)
        list[i] = entry(i);
    *count = n;
    return QN_OK;
}

QN_RET notFound(int32_t *count)
{
    *count = 0;
    return QN_ERR;
}

// A settings text, which the application may have left unterminated.
template <size_t N>
std::string_view fieldText(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// Appends text after the `used` characters of buf, cut to its size.
size_t appendText(char *buf, size_t size, size_t used, std::string_view text)
{
    if (used + 1 >= size)
        return used;
    return used + copyBounded(buf + used, size - used, text);
}

} // namespace

extern "C" QN_RET qnGetDevList(QN_ENTITY entity, const char *type, const char **list, int32_t *count)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || type == nullptr || list == nullptr || !capacityGiven(count))
        return QN_ERR_ARG;
    if (type[0] == '\0') {
        const char *rootType = deviceType(&root->device);
        if (rootType == nullptr)
            return notFound(count);
        list[0] = rootType;
        *count = 1;
        return QN_OK;
    }
    QNDevDesc *dev = findDeviceByType(&root->device, type);
    if (dev == nullptr)
        return notFound(count);
    return fillList(list, count, std::min<int>(dev->deviceCount, kMaxEmbeddedDevices),
                    [dev](int i) { return deviceType(dev->devices[i]); });
}

extern "C" QN_RET qnGetServList(QN_ENTITY entity, const char *type, const char **list, int32_t *count)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || type == nullptr || list == nullptr || !capacityGiven(count))
        return QN_ERR_ARG;
    QNDevDesc *dev = deviceNamed(root, type);
    if (dev == nullptr)
        return notFound(count);
    return fillList(list, count, std::min<int>(dev->serviceCount, kMaxServices),
                    [dev](int i) { return serviceType(dev->services[i]); });
}

extern "C" QN_RET qnGetActionList(QN_ENTITY entity, const char *type, const char **list, int32_t *count)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || type == nullptr || list == nullptr || !capacityGiven(count))
        return QN_ERR_ARG;
    // A control point that did not download this SCPD finds nothing.
    auto *scpd = static_cast<QNScpd *>(findInDevice(&root->device, type, "serviceType", FM_SCPD));
    if (scpd == nullptr)
        return notFound(count);
    return fillList(list, count, std::min<int>(scpd->actionCount, kMaxActions), [scpd](int i) {
        const QNActionDesc *action = scpd->actions[i];
        return action != nullptr && action->name.name[0] != '\0' ? action->name.val : nullptr;
    });
}

extern "C" QN_RET qnGetVarList(QN_ENTITY entity, const char *type, const char **list, uint8_t *sendEvents,
                               int32_t *count)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || type == nullptr || list == nullptr || !capacityGiven(count))
        return QN_ERR_ARG;
    auto *scpd = static_cast<QNScpd *>(findInDevice(&root->device, type, "serviceType", FM_SCPD));
    if (scpd == nullptr)
        return notFound(count);
    return fillList(list, count, std::min<int>(scpd->varCount, kMaxStateVars), [scpd, sendEvents](int i) {
        const QNVarDesc *var = scpd->vars[i];
        if (sendEvents != nullptr)
            sendEvents[i] = var != nullptr && var->sendEvents != 0 ? 1 : 0;
        return var != nullptr && var->name.name[0] != '\0' ? var->name.val : nullptr;
    });
}

namespace {

QN_RET fillFields(const QNNameVal *fields, int fieldCount, const char **names, const char **values,
                  int32_t *count)
{
    int n = std::min({*count, fieldCount, kMaxFields});
    for (int i = 0; i < n; ++i) {
        names[i] = fields[i].name;
        values[i] = fields[i].val;
    }
    *count = n;
    return QN_OK;
}

} // namespace

extern "C" QN_RET qnGetDevInfo(QN_ENTITY entity, const char *type, const char **names, const char **values,
                               int32_t *count)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || type == nullptr || names == nullptr || values == nullptr || !capacityGiven(count))
        return QN_ERR_ARG;
    QNDevDesc *dev = deviceNamed(root, type);
    if (dev == nullptr)
        return notFound(count);
    return fillFields(dev->fields, dev->fieldCount, names, values, count);
}

extern "C" QN_RET qnGetServInfo(QN_ENTITY entity, const char *type, const char **names, const char **values,
                                int32_t *count)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || type == nullptr || names == nullptr || values == nullptr || !capacityGiven(count))
        return QN_ERR_ARG;
    QNServDesc *serv = findServiceByType(&root->device, type);
    if (serv == nullptr)
        return notFound(count);
    return fillFields(serv->fields, serv->fieldCount, names, values, count);
}

extern "C" QN_RET qnGetActionArgs(QN_ENTITY entity, QNApiAction *action)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || action == nullptr)
        return QN_ERR_ARG;
    // The application's record may not be terminated.
    char name[QN_NAME_MAX_LEN];
    copyBounded(name, sizeof name, fieldText(action->action));
    if (name[0] == '\0')
        return QN_ERR_ARG;
    const QNActionDesc *found = findActionInDevice(&root->device, name);
    if (found == nullptr)
        return QN_ERR;
    int n = std::min<int>(found->argCount, QN_ARG_MAX_NUM);
    for (int i = 0; i < n; ++i) {
        const QNArgDesc *arg = found->args[i];
        copyBounded(action->argNV[i].name, sizeof action->argNV[i].name, arg != nullptr ? arg->name.val : "");
        action->argDirection[i] = argDirectionCode(arg != nullptr ? arg->direction.val : nullptr);
    }
    action->argNum = static_cast<uint16_t>(n);
    return QN_OK;
}

extern "C" QN_RET qnGetDescUrl(QN_ENTITY entity, const char *type, char *buf, int32_t len)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(entity);
    if (slot == nullptr || slot->desc == nullptr || type == nullptr || buf == nullptr || len <= 0)
        return QN_ERR_ARG;
    size_t size = static_cast<size_t>(len);
    size_t bounded = std::min<size_t>(size, QN_VAL_MAX_LEN);
    if (type[0] != '\0') {
        QNServDesc *serv = findServiceByType(&slot->desc->device, type);
        const char *url = serv != nullptr ? fieldOf(serv->fields, serv->fieldCount, "SCPDURL") : nullptr;
        if (url == nullptr)
            return QN_ERR;
        copyBounded(buf, bounded, url);
    } else if (slot->kind == EK_CTRL_POINT) {
        // After a download this is the description's URL.
        copyBounded(buf, bounded, fieldText(slot->cp.descFile));
    } else {
        // A device: the local file its description was loaded from.
        size_t used = copyBounded(buf, size, fieldText(slot->dev.localPath));
        used = appendText(buf, size, used, "/");
        appendText(buf, size, used, fieldText(slot->dev.descFile));
    }
    buf[size - 1] = '\0';
    return QN_OK;
}

extern "C" QN_RET qnGetUdn(QN_ENTITY entity, char *buf, int32_t len)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || buf == nullptr || len <= 0)
        return QN_ERR_ARG;
    const char *udn = fieldOf(root->device.fields, root->device.fieldCount, "UDN");
    if (udn == nullptr)
        return QN_ERR;
    copyBounded(buf, std::min<size_t>(static_cast<size_t>(len), QN_VAL_MAX_LEN), udn);
    buf[len - 1] = '\0';
    return QN_OK;
}

extern "C" QN_RET qnGetDevAddr(QN_ENTITY entity, uint32_t *addr, uint16_t *port)
{
    std::lock_guard guard(stackLock());
    EntitySlot *slot = entityAt(entity);
    if (slot == nullptr)
        return QN_ERR_ARG;
    if (slot->desc == nullptr)
        return QN_ERR_NODESC;
    if (addr != nullptr)
        *addr = ntohl(slot->desc->hostAddr);
    if (port != nullptr)
        *port = ntohs(slot->desc->hostPort);
    return QN_OK;
}

extern "C" QN_RET qnSetNVVal(char *val, const char *text)
{
    if (val == nullptr || text == nullptr)
        return QN_ERR_ARG;
    copyBounded(val, QN_VAL_MAX_LEN, text);
    return QN_OK;
}

extern "C" QN_RET qnSetNVNameVal(QNNameVal *nv, const char *name, const char *val)
{
    if (nv == nullptr || name == nullptr || val == nullptr)
        return QN_ERR_ARG;
    copyBounded(nv->name, sizeof nv->name, name);
    copyBounded(nv->val, sizeof nv->val, val);
    return QN_OK;
}
