#include "settings.h"

#include "iniStore.h"
#include "qnSdkApi.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace lumivar {

namespace {

constexpr std::string_view kGeneral = "General";
constexpr std::string_view kFilter = "Filter";
constexpr std::string_view kActDev = "ActDev";
constexpr std::string_view kVDev = "VDev";
constexpr std::string_view kLog = "Log";

// The stack's log modules as its API numbers them.
constexpr int32_t kLogModuleSsdp = 2;
constexpr int32_t kLogModuleGena = 3;
constexpr int32_t kLogModuleSoap = 4;
constexpr int32_t kLogModuleHttp = 5;
constexpr int32_t kLogLevelVerbose = 3;
constexpr int32_t kLogLevelQuiet = 1;

std::string cut(std::string text, std::size_t max)
{
    if (text.size() > max)
        text.resize(max);
    return text;
}

// Filter keys are the base name followed by the index in decimal.
std::string indexed(std::string_view base, std::size_t i)
{
    return std::string(base) + std::to_string(i);
}

bool getBool(const IniStore &ini, std::string_view section, std::string_view key, bool fallback)
{
    return ini.getInt(section, key, fallback ? 1 : 0) != 0;
}

void setBool(IniStore &ini, std::string_view section, std::string_view key, bool value)
{
    ini.setInt(section, key, value ? 1 : 0);
}

void loadFilters(const IniStore &ini, AppSettings &out)
{
    out.filters.clear();
    out.filterTime = tickSeconds();
    out.defaultPass = getBool(ini, kFilter, "DefPass", true);
    for (std::size_t i = 0;; ++i) {
        FilterRecord f;
        f.name = cut(ini.get(kFilter, indexed("Name", i), ""), kFilterTextMaxLen);
        if (f.name.empty())
            return;
        f.type = static_cast<uint32_t>(ini.getInt(kFilter, indexed("Type", i), FT_DEVICE_TYPE));
        f.applyToDevice = getBool(ini, kFilter, indexed("Dev", i), false);
        f.applyToControlPoint = getBool(ini, kFilter, indexed("CP", i), false);
        f.pattern = cut(ini.get(kFilter, indexed("Pattern", i), ""), kFilterTextMaxLen);
        if (f.pattern.empty())
            return;
        f.pass = getBool(ini, kFilter, indexed("Pass", i), true);
        f.skip = getBool(ini, kFilter, indexed("Skip", i), true);
        out.filters.push_back(std::move(f));
    }
}

void loadHosting(const IniStore &ini, const std::string &appDir, AppSettings &out)
{
    out.callbackPort = static_cast<uint16_t>(ini.getInt(kActDev, "CBPort", kDefaultCallbackPort));
    out.callbackPath = ini.get(kActDev, "CBUrl", kDefaultCallbackPath);
    out.searchPort = static_cast<int32_t>(ini.getInt(kActDev, "SearchPort", 0));
    out.adCount = static_cast<uint32_t>(ini.getInt(kVDev, "AdCount", kDefaultAdCount));
    out.adPeriod = static_cast<uint32_t>(ini.getInt(kVDev, "AdPeriod", kDefaultAdPeriod));
    out.localFilesPath = ini.get(kVDev, "HttpLocal", appDir);
    out.webServerPort = static_cast<uint16_t>(ini.getInt(kVDev, "HttpPort", kDefaultWebServerPort));
    out.controlPort = static_cast<uint16_t>(ini.getInt(kVDev, "SoapPort", kDefaultControlPort));
}

void loadLog(const IniStore &ini, AppSettings &out)
{
    out.logToFile = getBool(ini, kLog, "LogFile", false);
    out.verbose = getBool(ini, kLog, "Verbose", false);
    out.logAll = getBool(ini, kLog, "All", false);
    // "All" means every module: the single switches are not even read.
    out.logSsdp = out.logAll || getBool(ini, kLog, "Ssdp", false);
    out.logSoap = out.logAll || getBool(ini, kLog, "Soap", false);
    out.logGena = out.logAll || getBool(ini, kLog, "Gena", false);
    out.logHttp = out.logAll || getBool(ini, kLog, "Http", false);
}

void saveFilters(IniStore &ini, const AppSettings &in)
{
    setBool(ini, kFilter, "DefPass", in.defaultPass);
    std::size_t i = 0;
    for (const FilterRecord &f : in.filters) {
        ini.set(kFilter, indexed("Name", i), f.name);
        ini.setInt(kFilter, indexed("Type", i), static_cast<long>(f.type));
        setBool(ini, kFilter, indexed("Dev", i), f.applyToDevice);
        setBool(ini, kFilter, indexed("CP", i), f.applyToControlPoint);
        ini.set(kFilter, indexed("Pattern", i), f.pattern);
        setBool(ini, kFilter, indexed("Pass", i), f.pass);
        setBool(ini, kFilter, indexed("Skip", i), f.skip);
        ++i;
    }
    // Leftovers of a longer list stay in the file; the empty name hides them.
    ini.set(kFilter, indexed("Name", i), "");
}

void saveHostingAndLog(IniStore &ini, const AppSettings &in)
{
    ini.setInt(kActDev, "CBPort", in.callbackPort);
    ini.set(kActDev, "CBUrl", in.callbackPath);
    ini.setInt(kActDev, "SearchPort", in.searchPort);
    ini.setUnsigned(kVDev, "AdCount", in.adCount);
    ini.setUnsigned(kVDev, "AdPeriod", in.adPeriod);
    ini.set(kVDev, "HttpLocal", in.localFilesPath);
    ini.setInt(kVDev, "HttpPort", in.webServerPort);
    ini.setInt(kVDev, "SoapPort", in.controlPort);
    setBool(ini, kLog, "LogFile", in.logToFile);
    setBool(ini, kLog, "Verbose", in.verbose);
    setBool(ini, kLog, "All", in.logAll);
    // With "All" every module reads as on, and is written so.
    setBool(ini, kLog, "Ssdp", in.logAll || in.logSsdp);
    setBool(ini, kLog, "Soap", in.logAll || in.logSoap);
    setBool(ini, kLog, "Gena", in.logAll || in.logGena);
    setBool(ini, kLog, "Http", in.logAll || in.logHttp);
}

} // namespace

std::string applicationDirectory()
{
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec || cwd.empty())
        return "./";
    std::string dir = cwd.string();
    std::replace(dir.begin(), dir.end(), '\\', '/');
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string settingsPath(std::string_view appDir)
{
    return std::string(appDir) + std::string(kSettingsFileName);
}

uint32_t tickSeconds()
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count() / 1000);
}

bool loadSettings(const std::string &path, const std::string &appDir, AppSettings &out)
{
    IniStore ini;
    const bool read = ini.load(path);
    out = AppSettings{};
    // The stored "AutoDE" is ignored: the explorer always starts.
    out.autoStartExplorer = true;
    out.autoStartMonitor = getBool(ini, kGeneral, "AutoCPE", false);
    loadFilters(ini, out);
    loadHosting(ini, appDir, out);
    loadLog(ini, out);
    return read;
}

bool saveSettings(const std::string &path, const AppSettings &in)
{
    IniStore ini;
    std::error_code ec;
    const bool exists = std::filesystem::exists(path, ec);
    if ((exists || ec) && !ini.load(path))
        return false;
    ini.setInt(kGeneral, "AutoDE", 1);
    setBool(ini, kGeneral, "AutoCPE", in.autoStartMonitor);
    saveFilters(ini, in);
    saveHostingAndLog(ini, in);
    return ini.save(path);
}

std::string usedCallbackPath(const AppSettings &s)
{
    return cut(s.callbackPath, kSettingsTextMaxLen);
}

std::string usedLocalFilesPath(const AppSettings &s)
{
    return cut(s.localFilesPath, kSettingsTextMaxLen);
}

void applyLogLevels(const AppSettings &s)
{
    const int32_t level = s.verbose ? kLogLevelVerbose : kLogLevelQuiet;
    qnSetDebugLevel(QN_LOG_ALL_CATEGORIES, s.logAll ? 1 : 0, level);
    if (s.logAll)
        return;
    qnSetDebugLevel(kLogModuleSsdp, s.logSsdp ? 1 : 0, level);
    qnSetDebugLevel(kLogModuleSoap, s.logSoap ? 1 : 0, level);
    qnSetDebugLevel(kLogModuleGena, s.logGena ? 1 : 0, level);
    qnSetDebugLevel(kLogModuleHttp, s.logHttp ? 1 : 0, level);
}

} // namespace lumivar
