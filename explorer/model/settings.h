// The explorer's settings: the AppSettings record and the profile file
// "Zentrova.ini" it is read from at start-up and written back to at exit.
// The file is edited by hand between runs; the program itself offers no
// settings editor.
#pragma once

#include "filterRecord.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumivar {

inline constexpr std::string_view kSettingsFileName = "Zentrova.ini";

// Texts handed to the stack (call-back path, local file root) use at most
// this many characters; the file keeps whatever the user wrote.
inline constexpr std::size_t kSettingsTextMaxLen = 127;
// A filter's name and pattern are read up to this many characters.
inline constexpr std::size_t kFilterTextMaxLen = 1023;

inline constexpr uint16_t kDefaultCallbackPort = 30808;
inline constexpr std::string_view kDefaultCallbackPath = "/Zentrova";
inline constexpr uint32_t kDefaultAdCount = 1;
inline constexpr uint32_t kDefaultAdPeriod = 20;
inline constexpr uint16_t kDefaultWebServerPort = 30909;
inline constexpr uint16_t kDefaultControlPort = 30909;

// One per process, alive from before the stack starts until after it is
// cleaned. Each field names its section and key in the profile.
struct AppSettings {
    bool autoStartMonitor = false;  // "General" "AutoCPE"
    bool autoStartExplorer = true;  // "General" "AutoDE": always on
    uint32_t filterTime = 0;        // tick seconds when the filters were loaded
    bool defaultPass = true;        // "Filter" "DefPass"
    std::vector<FilterRecord> filters; // "Filter" "Name0", "Type0", ...
    uint16_t callbackPort = kDefaultCallbackPort;           // "ActDev" "CBPort"
    std::string callbackPath = std::string(kDefaultCallbackPath); // "ActDev" "CBUrl"
    int32_t searchPort = 0;                 // "ActDev" "SearchPort": kept, not used
    uint32_t adCount = kDefaultAdCount;     // "VDev" "AdCount": kept, not used
    uint32_t adPeriod = kDefaultAdPeriod;   // "VDev" "AdPeriod", seconds
    std::string localFilesPath;             // "VDev" "HttpLocal": default app dir
    uint16_t webServerPort = kDefaultWebServerPort; // "VDev" "HttpPort"
    uint16_t controlPort = kDefaultControlPort;     // "VDev" "SoapPort"
    bool logToFile = false; // "Log" "LogFile": debug lines also go to ./log.txt
    bool verbose = false;   // "Log" "Verbose": stack level 3 instead of 1
    bool logAll = false;    // "Log" "All": every stack module, forces the four below
    bool logSsdp = false;   // "Log" "Ssdp"
    bool logSoap = false;   // "Log" "Soap"
    bool logHttp = false;   // "Log" "Http"
    bool logGena = false;   // "Log" "Gena"
};

// The working directory with '\' turned into '/' and ending in '/' (no
// second '/' when it already ends in one); "./" when it cannot be read.
[[nodiscard]] std::string applicationDirectory();
// appDir followed by "Zentrova.ini".
[[nodiscard]] std::string settingsPath(std::string_view appDir);

// The seconds of the monotonic millisecond tick; filterTime and the device
// list's check times must come from this one clock to compare.
[[nodiscard]] uint32_t tickSeconds();

// Fills out from the file; a missing file, section or key gives the
// defaults, with localFilesPath defaulting to appDir. Integer keys that are
// no number read 0. True when the file was read, false when it was missing
// or unreadable (out then holds the defaults).
bool loadSettings(const std::string &path, const std::string &appDir, AppSettings &out);

// Writes every key of in into the file, keeping its other sections and
// keys. "AutoDE" is written 1; the filter list is ended by an empty
// "Name<n>" so that higher-numbered leftovers are never read. False when
// the file exists but cannot be read (it is then left untouched, so that
// foreign keys are not lost) or cannot be written.
[[nodiscard]] bool saveSettings(const std::string &path, const AppSettings &in);

// The texts as handed to the stack: at most kSettingsTextMaxLen characters.
[[nodiscard]] std::string usedCallbackPath(const AppSettings &s);
[[nodiscard]] std::string usedLocalFilesPath(const AppSettings &s);

// Sets the stack's log modules from the "Log" keys: level 3 when verbose,
// else 1; every module on or off by logAll, and without logAll the SSDP,
// SOAP, GENA and HTTP modules each by their own switch.
void applyLogLevels(const AppSettings &s);

} // namespace lumivar
