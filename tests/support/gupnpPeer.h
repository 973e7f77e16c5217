// GUPnP through python3-gi as the independent peer of the interop tests:
// whether it is installed, and what its SwitchPower control point
// (tests/interop/gupnp_switch_cp.py) prints when a light does its part.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace qntest {

inline constexpr const char *kPython = "/usr/bin/python3";

inline bool haveGupnp()
{
    return access(kPython, X_OK) == 0 &&
           std::system("/usr/bin/python3 -c 'import gi; gi.require_version(\"GUPnP\", \"1.6\")' 2>/dev/null") == 0;
}

// The script's lines for a light found at location: SetTarget 1, GetStatus,
// GetTarget, a query of Status, the subscription with its initial event,
// SetTarget 0 and the event it sends.
inline std::vector<std::string> switchRunLines(const std::string &location)
{
    return {
        "{\"found\": \"" + location + "\"}",
        "{\"action\": \"SetTarget\", \"out\": {}}",
        "{\"action\": \"GetStatus\", \"out\": {\"ResultStatus\": \"True\"}}",
        "{\"action\": \"GetTarget\", \"out\": {\"RetTargetValue\": \"True\"}}",
        "{\"query\": \"Status\", \"value\": \"1\"}",
        "{\"subscribed\": true}",
        "{\"event\": \"Status\", \"value\": true}",
        "{\"action\": \"SetTarget\", \"out\": {}}",
        "{\"event\": \"Status\", \"value\": false}",
        "DONE",
    };
}

} // namespace qntest
