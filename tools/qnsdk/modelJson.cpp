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

void writeArgs(JsonWriter &json, QN_ENTITY entity, const char *actionName)
{
    QNApiAction action{};
    copyText(action.action, sizeof action.action, actionName);
    json.key("args");
    json.beginArray();
    if (qnGetActionArgs(entity, &action) == QN_OK) {
        for (uint16_t i = 0; i < action.argNum && i < QN_ARG_MAX_NUM; ++i) {
            json.beginObject();
            json.member("name", action.argNV[i].name);
            json.member("direction", directionName(action.argDirection[i]));
            json.endObject();
        }
    }
    json.endArray();
}

void writeActions(JsonWriter &json, QN_ENTITY entity, const char *serviceType)
{
    std::vector<const char *> names(kListCapacity);
    int32_t count = kListCapacity;
    if (qnGetActionList(entity, serviceType, names.data(), &count) != QN_OK)
        count = 0;
    json.key("actions");
    json.beginArray();
    for (int32_t i = 0; i < count; ++i) {
        json.beginObject();
        json.member("name", names[i]);
        if (names[i] != nullptr) {
            writeArgs(json, entity, names[i]);
        } else {
            json.key("args");
            json.beginArray();
            json.endArray();
        }
        json.endObject();
    }
    json.endArray();
}

void writeVariables(JsonWriter &json, QN_ENTITY entity, const char *serviceType)
{
    std::vector<const char *> names(kListCapacity);
    std::vector<uint8_t> evented(kListCapacity);
    int32_t count = kListCapacity;
    if (qnGetVarList(entity, serviceType, names.data(), evented.data(), &count) != QN_OK)
        count = 0;
    json.key("variables");
    json.beginArray();
    for (int32_t i = 0; i < count; ++i) {
        json.beginObject();
        json.member("name", names[i]);
        json.key("sendEvents");
        json.boolean(evented[static_cast<size_t>(i)] != 0);
        json.endObject();
    }
    json.endArray();
}

void writeService(JsonWriter &json, QN_ENTITY entity, const char *serviceType)
{
    std::vector<const char *> names(kListCapacity);
    std::vector<const char *> values(kListCapacity);
    int32_t count = kListCapacity;
    // An absent or empty service type finds no service: its fields stay null.
    if (serviceType == nullptr || qnGetServInfo(entity, serviceType, names.data(), values.data(), &count) != QN_OK)
        count = 0;
    json.beginObject();
    json.member("serviceType", serviceType);
    for (const char *field : {"SCPDURL", "controlURL", "eventSubURL"})
        json.member(field, fieldValue(names.data(), values.data(), count, field));
    const char *queryType = serviceType != nullptr ? serviceType : "";
    writeActions(json, entity, queryType);
    writeVariables(json, entity, queryType);
    json.endObject();
}

void writeServices(JsonWriter &json, QN_ENTITY entity, const char *deviceType)
{
    std::vector<const char *> types(kListCapacity);
    int32_t count = kListCapacity;
    if (qnGetServList(entity, deviceType, types.data(), &count) != QN_OK)
        count = 0;
    json.key("services");
    json.beginArray();
    for (int32_t i = 0; i < count; ++i)
        writeService(json, entity, types[i]);
    json.endArray();
}

bool onPath(const TypePath &path, const char *type)
{
    for (const std::string &seen : path)
        if (seen == type)
            return true;
    return false;
}

// The members of one device after "location": its fields, services and
// embedded devices. queryType is "" for the root device, else its type.
// An embedded device whose type is one of its ancestors' would resolve to
// that ancestor again: it is written with no embedded devices of its own.
void writeDeviceMembers(JsonWriter &json, QN_ENTITY entity, const char *queryType, TypePath &path);

void writeEmbedded(JsonWriter &json, QN_ENTITY entity, const char *deviceType, TypePath &path)
{
    std::vector<const char *> types(kListCapacity);
    int32_t count = kListCapacity;
    bool follow = deviceType != nullptr && deviceType[0] != '\0' && path.size() < kMaxDeviceDepth;
    if (!follow || qnGetDevList(entity, deviceType, types.data(), &count) != QN_OK)
        count = 0;
    json.key("devices");
    json.beginArray();
    path.emplace_back(deviceType != nullptr ? deviceType : "");
    for (int32_t i = 0; i < count; ++i) {
        if (types[i] == nullptr || types[i][0] == '\0')
            continue;
        json.beginObject();
        writeDeviceMembers(json, entity, types[i], path);
        json.endObject();
    }
    path.pop_back();
    json.endArray();
}

void writeDeviceMembers(JsonWriter &json, QN_ENTITY entity, const char *queryType, TypePath &path)
{
    std::vector<const char *> names(kListCapacity);
    std::vector<const char *> values(kListCapacity);
    int32_t count = kListCapacity;
    if (qnGetDevInfo(entity, queryType, names.data(), values.data(), &count) != QN_OK)
        count = 0;
    const char *deviceType = fieldValue(names.data(), values.data(), count, "deviceType");
    json.member("udn", fieldValue(names.data(), values.data(), count, "UDN"));
    json.member("deviceType", deviceType);
    json.member("friendlyName", fieldValue(names.data(), values.data(), count, "friendlyName"));
    writeServices(json, entity, queryType);
    bool cycle = deviceType != nullptr && queryType[0] != '\0' && onPath(path, deviceType);
    writeEmbedded(json, entity, cycle ? nullptr : deviceType, path);
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

void writeEntityModel(JsonWriter &json, QN_ENTITY entity, const char *location)
{
    TypePath path;
    json.beginObject();
    json.member("location", location);
    writeDeviceMembers(json, entity, "", path);
    json.endObject();
}

} // namespace qncli
