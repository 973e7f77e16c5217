#include "modelJson.h"

#include "cliText.h"

#include <cstring>
#include <string>
#include <vector>

namespace qncli {
namespace {

// Capacities handed to the list queries; they return at most what the model
// holds, which is less than this in every real description.
constexpr int32_t kListCapacity = 256;
// Deepest nesting of embedded devices that is followed.
constexpr size_t kMaxDeviceDepth = 16;

using TypePath = std::vector<std::string>;

// The value of the first field named name among a node's fields, or null.
const char *fieldValue(const char *const *names, const char *const *values, int32_t count, const char *name)
{
    for (int32_t i = 0; i < count; ++i)
        if (names[i] != nullptr && std::strcmp(names[i], name) == 0)
            return values[i];
    return nullptr;
}

Json fieldsObject(const char *const *names, const char *const *values, int32_t count)
{
    Json fields = Json::object();
    for (int32_t i = 0; i < count; ++i)
        if (names[i] != nullptr && values[i] != nullptr)
            addFirst(fields, names[i], values[i]);
    return fields;
}

Json argsOf(QN_ENTITY entity, const char *serviceType, const char *actionName)
{
    QNApiAction action{};
    copyText(action.action, sizeof action.action, actionName);
    Json args = Json::array();
    if (qnGetActionArgVars(entity, serviceType, &action) != QN_OK)
        return args;
    for (uint16_t i = 0; i < action.argNum && i < QN_ARG_MAX_NUM; ++i) {
        const QNNameVal &nv = action.argNV[i];
        Json arg = Json::object();
        arg["name"] = nv.name;
        arg["direction"] = directionName(action.argDirection[i]);
        arg["relatedStateVariable"] = nv.val[0] != '\0' ? Json(nv.val) : Json(nullptr);
        args.push_back(std::move(arg));
    }
    return args;
}

Json actionsOf(QN_ENTITY entity, const char *serviceType)
{
    std::vector<const char *> names(kListCapacity);
    int32_t count = kListCapacity;
    if (serviceType[0] == '\0' || qnGetActionList(entity, serviceType, names.data(), &count) != QN_OK)
        count = 0;
    Json actions = Json::array();
    for (int32_t i = 0; i < count; ++i) {
        Json action = Json::object();
        action["name"] = textOrNull(names[i]);
        action["args"] = names[i] != nullptr ? argsOf(entity, serviceType, names[i]) : Json::array();
        actions.push_back(std::move(action));
    }
    return actions;
}

// dataType, defaultValue, allowedValues and range of a variable; null where
// the SCPD gives none.
void addVarInfo(Json &var, QN_ENTITY entity, const char *serviceType, const char *name)
{
    QNApiVarInfo info;
    bool found = name != nullptr && qnGetVarInfo(entity, serviceType, name, &info) == QN_OK;
    var["dataType"] = found && info.dataType[0] != '\0' ? Json(info.dataType) : Json(nullptr);
    var["defaultValue"] = found && info.hasDefault ? Json(info.defaultValue) : Json(nullptr);
    Json allowed = nullptr;
    if (found && info.hasList) {
        allowed = Json::array();
        for (uint16_t i = 0; i < info.allowedNum && i < QN_ALLOWED_MAX_NUM; ++i)
            allowed.push_back(info.allowed[i]);
    }
    var["allowedValues"] = std::move(allowed);
    Json range = nullptr;
    if (found && info.hasRange) {
        range = Json::object();
        range["minimum"] = info.minimum[0] != '\0' ? Json(info.minimum) : Json(nullptr);
        range["maximum"] = info.maximum[0] != '\0' ? Json(info.maximum) : Json(nullptr);
        range["step"] = info.step[0] != '\0' ? Json(info.step) : Json(nullptr);
    }
    var["range"] = std::move(range);
}

Json variablesOf(QN_ENTITY entity, const char *serviceType)
{
    std::vector<const char *> names(kListCapacity);
    std::vector<uint8_t> evented(kListCapacity);
    int32_t count = kListCapacity;
    if (serviceType[0] == '\0' ||
        qnGetVarList(entity, serviceType, names.data(), evented.data(), &count) != QN_OK)
        count = 0;
    Json vars = Json::array();
    for (int32_t i = 0; i < count; ++i) {
        Json var = Json::object();
        var["name"] = textOrNull(names[i]);
        var["sendEvents"] = evented[static_cast<size_t>(i)] != 0;
        addVarInfo(var, entity, serviceType, names[i]);
        vars.push_back(std::move(var));
    }
    return vars;
}

Json serviceOf(QN_ENTITY entity, const char *serviceType)
{
    std::vector<const char *> names(kListCapacity);
    std::vector<const char *> values(kListCapacity);
    int32_t count = kListCapacity;
    // An absent or empty service type finds no service: its fields stay null.
    if (serviceType == nullptr || qnGetServInfo(entity, serviceType, names.data(), values.data(), &count) != QN_OK)
        count = 0;
    Json service = Json::object();
    service["serviceType"] = textOrNull(serviceType);
    for (const char *field : {"serviceId", "SCPDURL", "controlURL", "eventSubURL"})
        service[field] = textOrNull(fieldValue(names.data(), values.data(), count, field));
    const char *queryType = serviceType != nullptr ? serviceType : "";
    service["actions"] = actionsOf(entity, queryType);
    service["variables"] = variablesOf(entity, queryType);
    return service;
}

Json servicesOf(QN_ENTITY entity, const char *deviceType)
{
    std::vector<const char *> types(kListCapacity);
    int32_t count = kListCapacity;
    if (qnGetServList(entity, deviceType, types.data(), &count) != QN_OK)
        count = 0;
    Json services = Json::array();
    for (int32_t i = 0; i < count; ++i)
        services.push_back(serviceOf(entity, types[i]));
    return services;
}

Json numberOrNull(int32_t value)
{
    return value >= 0 ? Json(value) : Json(nullptr);
}

Json iconsOf(QN_ENTITY entity, const char *deviceType)
{
    std::vector<QNApiIcon> icons(kListCapacity);
    int32_t count = kListCapacity;
    if (qnGetIconList(entity, deviceType, icons.data(), &count) != QN_OK)
        count = 0;
    Json list = Json::array();
    for (int32_t i = 0; i < count; ++i) {
        const QNApiIcon &icon = icons[static_cast<size_t>(i)];
        Json item = Json::object();
        item["mimetype"] = icon.mimetype;
        item["width"] = numberOrNull(icon.width);
        item["height"] = numberOrNull(icon.height);
        item["depth"] = numberOrNull(icon.depth);
        item["url"] = icon.url;
        list.push_back(std::move(item));
    }
    return list;
}

bool onPath(const TypePath &path, const char *type)
{
    for (const std::string &seen : path)
        if (seen == type)
            return true;
    return false;
}

// The members of one device after "location". queryType is "" for the
// root device, else its type. An embedded device whose type is one of its
// ancestors' would resolve to that ancestor again: it is written with no
// embedded devices of its own.
void addDeviceMembers(Json &device, QN_ENTITY entity, const char *queryType, TypePath &path);

Json embeddedOf(QN_ENTITY entity, const char *deviceType, TypePath &path)
{
    std::vector<const char *> types(kListCapacity);
    int32_t count = kListCapacity;
    bool follow = deviceType != nullptr && deviceType[0] != '\0' && path.size() < kMaxDeviceDepth;
    if (!follow || qnGetDevList(entity, deviceType, types.data(), &count) != QN_OK)
        count = 0;
    Json devices = Json::array();
    path.emplace_back(deviceType != nullptr ? deviceType : "");
    for (int32_t i = 0; i < count; ++i) {
        if (types[i] == nullptr || types[i][0] == '\0')
            continue;
        Json device = Json::object();
        addDeviceMembers(device, entity, types[i], path);
        devices.push_back(std::move(device));
    }
    path.pop_back();
    return devices;
}

void addDeviceMembers(Json &device, QN_ENTITY entity, const char *queryType, TypePath &path)
{
    std::vector<const char *> names(kListCapacity);
    std::vector<const char *> values(kListCapacity);
    int32_t count = kListCapacity;
    if (qnGetDevInfo(entity, queryType, names.data(), values.data(), &count) != QN_OK)
        count = 0;
    const char *deviceType = fieldValue(names.data(), values.data(), count, "deviceType");
    device["udn"] = textOrNull(fieldValue(names.data(), values.data(), count, "UDN"));
    device["deviceType"] = textOrNull(deviceType);
    device["friendlyName"] = textOrNull(fieldValue(names.data(), values.data(), count, "friendlyName"));
    device["fields"] = fieldsObject(names.data(), values.data(), count);
    device["icons"] = iconsOf(entity, queryType);
    device["services"] = servicesOf(entity, queryType);
    bool cycle = deviceType != nullptr && queryType[0] != '\0' && onPath(path, deviceType);
    device["devices"] = embeddedOf(entity, cycle ? nullptr : deviceType, path);
}

} // namespace

const char *directionName(int32_t code)
{
    switch (code) {
    case AD_IN:
        return "in";
    case AD_OUT:
        return "out";
    case AD_INOUT:
        return "inout";
    default:
        return "unknown";
    }
}

Json entityModel(QN_ENTITY entity, const char *location)
{
    TypePath path;
    Json model = Json::object();
    model["location"] = textOrNull(location);
    addDeviceMembers(model, entity, "", path);
    return model;
}

} // namespace qncli
