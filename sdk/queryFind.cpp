// The internal lookups of the description model: devices, services, SCPDs
// and actions found by their fields, depth first.
#include "query.h"

#include "text.h"

#include <cstring>

namespace {

bool fieldEquals(const QNNameVal *fields, int count, const char *fieldName, const char *value)
{
    const char *text = findNameVal(fields, count, fieldName);
    return text != nullptr && std::strcmp(text, value) == 0;
}

// Depth-first search below (and at) dev. *found is set when a match ends
// the search; the return value is what the mode asks for.
void *searchDevice(QNDevDesc *dev, const char *value, const char *fieldName, int mode, bool *found)
{
    if (mode == FM_DEVICE && fieldEquals(dev->fields, dev->fieldCount, fieldName, value)) {
        *found = true;
        return dev;
    }
    if (mode != FM_DEVICE) {
        for (int i = 0; i < dev->serviceCount && i < kMaxServices; ++i) {
            QNServDesc *serv = dev->services[i];
            if (serv == nullptr || !fieldEquals(serv->fields, serv->fieldCount, fieldName, value))
                continue;
            *found = true;
            if (mode == FM_SERVICE_OWNER)
                return dev;
            return mode == FM_SERVICE ? static_cast<void *>(serv) : static_cast<void *>(serv->scpd);
        }
    }
    for (int i = 0; i < dev->deviceCount && i < kMaxEmbeddedDevices; ++i) {
        if (dev->devices[i] == nullptr)
            continue;
        void *result = searchDevice(dev->devices[i], value, fieldName, mode, found);
        if (*found)
            return result;
    }
    return nullptr;
}

} // namespace

void *findInDevice(QNDevDesc *dev, const char *value, const char *fieldName, int mode)
{
    if (dev == nullptr || value == nullptr || value[0] == '\0' || fieldName == nullptr ||
        fieldName[0] == '\0' || mode < FM_DEVICE || mode > FM_SCPD)
        return nullptr;
    bool found = false;
    return searchDevice(dev, value, fieldName, mode, &found);
}

QNDevDesc *findDeviceByType(QNDevDesc *dev, const char *deviceType)
{
    return static_cast<QNDevDesc *>(findInDevice(dev, deviceType, "deviceType", FM_DEVICE));
}

QNServDesc *findServiceByType(QNDevDesc *dev, const char *serviceType)
{
    return static_cast<QNServDesc *>(findInDevice(dev, serviceType, "serviceType", FM_SERVICE));
}

QNScpd *getScpdByControlUrl(QNDevDesc *dev, const char *path)
{
    return static_cast<QNScpd *>(findInDevice(dev, path, "controlURL", FM_SCPD));
}

QNScpd *getScpdByEventSubUrl(QNDevDesc *dev, const char *path)
{
    return static_cast<QNScpd *>(findInDevice(dev, path, "eventSubURL", FM_SCPD));
}

QNScpd *getScpdByScpdUrl(QNDevDesc *dev, const char *path)
{
    return static_cast<QNScpd *>(findInDevice(dev, path, "SCPDURL", FM_SCPD));
}

int checkServiceType(QNDevDesc *dev, const char *serviceType)
{
    return findInDevice(dev, serviceType, "serviceType", FM_SCPD) != nullptr ? 0 : -1;
}

QNActionDesc *findActionInScpd(QNScpd *scpd, const char *name)
{
    // An empty name would match an action whose name leaf is missing.
    if (scpd == nullptr || name == nullptr || name[0] == '\0')
        return nullptr;
    for (int i = 0; i < scpd->actionCount && i < kMaxActions; ++i) {
        QNActionDesc *action = scpd->actions[i];
        if (action != nullptr && std::strcmp(action->name.val, name) == 0)
            return action;
    }
    return nullptr;
}

QNActionDesc *findActionInDevice(QNDevDesc *dev, const char *name)
{
    if (dev == nullptr || name == nullptr)
        return nullptr;
    for (int i = 0; i < dev->serviceCount && i < kMaxServices; ++i) {
        QNServDesc *serv = dev->services[i];
        QNActionDesc *action = serv != nullptr ? findActionInScpd(serv->scpd, name) : nullptr;
        if (action != nullptr)
            return action;
    }
    for (int i = 0; i < dev->deviceCount && i < kMaxEmbeddedDevices; ++i) {
        QNActionDesc *action = findActionInDevice(dev->devices[i], name);
        if (action != nullptr)
            return action;
    }
    return nullptr;
}

int32_t argDirectionCode(const char *direction)
{
    if (direction == nullptr)
        return AD_UNKNOWN;
    if (std::strcmp(direction, "in") == 0)
        return AD_IN;
    if (std::strcmp(direction, "out") == 0)
        return AD_OUT;
    if (std::strcmp(direction, "inout") == 0)
        return AD_INOUT;
    return AD_UNKNOWN;
}
