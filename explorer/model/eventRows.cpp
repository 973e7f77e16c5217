#include "eventRows.h"

#include "modelLock.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace lumivar {

namespace {

constexpr std::string_view kDevicePrefix = "urn:schemas-upnp-org:device:";
constexpr std::string_view kServicePrefix = "urn:schemas-upnp-org:service:";

// More than the stack keeps per SCPD, so no variable is hidden.
constexpr int kVarListCapacity = 256;

std::string_view withoutPrefix(std::string_view type, std::string_view prefix)
{
    if (type.size() > prefix.size() && type.substr(0, prefix.size()) == prefix)
        return type.substr(prefix.size());
    return type;
}

struct ServiceOfDevice {
    std::string device;
    std::string service;
};

struct Walk {
    std::string device; // the type of the device whose services follow
    std::vector<ServiceOfDevice> services;
};

// qnWalkDesc hands a device's type before its services, so the device
// remembered last is the one holding the service.
int32_t collectService(QN_ENTITY, const char *type, int32_t isDevice, void *user)
{
    auto *walk = static_cast<Walk *>(user);
    if (isDevice != 0)
        walk->device = type;
    else
        walk->services.push_back({walk->device, type});
    return 0;
}

struct EventedVar {
    std::string device;
    std::string service;
    std::string name;
};

// The evented variables of entity's description, copied so they outlive
// the model lock.
std::vector<EventedVar> collectEventedVars(QN_ENTITY entity)
{
    std::vector<EventedVar> vars;
    Walk walk;
    std::array<const char *, kVarListCapacity> names{};
    std::array<uint8_t, kVarListCapacity> evented{};
    ModelLock model;
    if (qnWalkDesc(entity, "", collectService, &walk) == QN_OK) {
        for (const ServiceOfDevice &s : walk.services) {
            int32_t count = kVarListCapacity;
            if (qnGetVarList(entity, s.service.c_str(), names.data(), evented.data(), &count) != QN_OK)
                continue;
            for (int32_t i = 0; i < count; ++i) {
                if (names[i] != nullptr && evented[i] != 0)
                    vars.push_back({s.device, s.service, names[i]});
            }
        }
    }
    return vars;
}

} // namespace

std::string_view shortDeviceType(std::string_view type) { return withoutPrefix(type, kDevicePrefix); }

std::string_view shortServiceType(std::string_view type) { return withoutPrefix(type, kServicePrefix); }

std::string calendarText(uint32_t time)
{
    if (time == 0)
        return {};
    static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t t = static_cast<std::time_t>(time);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11)
        return {};
    char text[32];
    int n = std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", kDays[tm.tm_wday], kMonths[tm.tm_mon],
                          tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof text)
        return {};
    return std::string(text, static_cast<size_t>(n));
}

std::vector<EventRow> eventRowsOf(QN_ENTITY entity, const EventTable &table)
{
    std::vector<EventRow> rows;
    for (EventedVar &var : collectEventedVars(entity)) {
        EventRow row;
        row.device = shortDeviceType(var.device);
        row.service = shortServiceType(var.service);
        row.variable = std::move(var.name);
        if (std::optional<EventEntry> entry = table.find(entity, row.variable)) {
            row.value = std::move(entry->value);
            row.time = calendarText(entry->time);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace lumivar
