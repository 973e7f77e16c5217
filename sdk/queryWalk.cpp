// Walking a whole description: qnWalkDesc hands every device and service
// type to a callback, qnFindDescValue finds the first node whose field
// contains a pattern.
//
// Both follow the model's own tree rather than resolving each type string
// again: a description in which an embedded device repeats the deviceType
// of its parent would otherwise lead the walk back to the parent for ever,
// and two devices of one type would show the first one's subtree twice.
// Nodes without a type (deviceType, serviceType) cannot be named by any
// query, so the walk passes them, and a device's subtree with it, over.
#include "query.h"

#include "entity.h"
#include "text.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

const char *typeOf(const QNNameVal *fields, int count, const char *name)
{
    const char *type = findNameVal(fields, std::min(count, kMaxFields), name);
    return type != nullptr && type[0] != '\0' ? type : nullptr;
}

struct Walk {
    QN_ENTITY entity;
    QNWalkCallback callback;
    void *user;
};

// Services of dev, then each embedded device followed by its own walk.
// Results of the callbacks below the root do not end the walk.
void walkDevice(const Walk &walk, const QNDevDesc *dev)
{
    for (int i = 0; i < dev->serviceCount && i < kMaxServices; ++i) {
        const QNServDesc *serv = dev->services[i];
        const char *type = serv != nullptr ? typeOf(serv->fields, serv->fieldCount, "serviceType") : nullptr;
        if (type != nullptr)
            (void)walk.callback(walk.entity, type, 0, walk.user);
    }
    for (int i = 0; i < dev->deviceCount && i < kMaxEmbeddedDevices; ++i) {
        const QNDevDesc *child = dev->devices[i];
        const char *type = child != nullptr ? typeOf(child->fields, child->fieldCount, "deviceType") : nullptr;
        if (type == nullptr)
            continue;
        (void)walk.callback(walk.entity, type, 1, walk.user);
        walkDevice(walk, child);
    }
}

// The first node at or below dev whose field contains pattern.
struct Search {
    const char *fieldName;
    const char *pattern;
    bool devices;
    bool services;
};

const char *matchFields(const Search &search, const QNNameVal *fields, int count)
{
    const char *value = findNameVal(fields, std::min(count, kMaxFields), search.fieldName);
    return value != nullptr && std::strstr(value, search.pattern) != nullptr ? value : nullptr;
}

const char *searchDevice(const Search &search, const QNDevDesc *dev)
{
    if (search.devices) {
        if (const char *value = matchFields(search, dev->fields, dev->fieldCount))
            return value;
    }
    if (search.services) {
        for (int i = 0; i < dev->serviceCount && i < kMaxServices; ++i) {
            const QNServDesc *serv = dev->services[i];
            const char *value = serv != nullptr ? matchFields(search, serv->fields, serv->fieldCount) : nullptr;
            if (value != nullptr)
                return value;
        }
    }
    for (int i = 0; i < dev->deviceCount && i < kMaxEmbeddedDevices; ++i) {
        const char *value = dev->devices[i] != nullptr ? searchDevice(search, dev->devices[i]) : nullptr;
        if (value != nullptr)
            return value;
    }
    return nullptr;
}

} // namespace

extern "C" QN_RET qnWalkDesc(QN_ENTITY entity, const char *type, QNWalkCallback callback, void *user)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || type == nullptr || callback == nullptr)
        return QN_ERR_ARG;
    Walk walk{entity, callback, user};
    const QNDevDesc *start = &root->device;
    if (type[0] == '\0') {
        const char *rootType = typeOf(root->device.fields, root->device.fieldCount, "deviceType");
        if (rootType == nullptr)
            return QN_ERR;
        if (callback(entity, rootType, 1, user) != 0)
            return QN_OK;
    } else {
        start = findDeviceByType(&root->device, type);
        if (start == nullptr)
            return QN_OK; // nothing to walk
    }
    walkDevice(walk, start);
    return QN_OK;
}

extern "C" const char *qnFindDescValue(QN_ENTITY entity, const char *, const char *, const char *fieldName,
                                       const char *pattern, int32_t wantDevices, int32_t wantServices, int32_t)
{
    std::lock_guard guard(stackLock());
    QNRootDesc *root = entityDesc(entity);
    if (root == nullptr || fieldName == nullptr || pattern == nullptr)
        return nullptr;
    Search search{fieldName, pattern, wantDevices != 0, wantServices != 0};
    if (!search.devices && !search.services)
        return nullptr;
    return searchDevice(search, &root->device);
}
