// An action record as an application fills it before a call: the name and
// the arguments in order, each with the given direction.
#pragma once

#include "qnSdkApi.h"
#include "text.h"

#include <string>
#include <utility>
#include <vector>

namespace qntest {

inline QNApiAction makeAction(const char *name, const std::vector<std::pair<std::string, std::string>> &args = {},
                              int32_t direction = 0)
{
    QNApiAction a{};
    copyBounded(a.action, sizeof a.action, name);
    for (const auto &[n, v] : args) {
        qnSetNVNameVal(&a.argNV[a.argNum], n.c_str(), v.c_str());
        a.argDirection[a.argNum] = direction;
        ++a.argNum;
    }
    return a;
}

} // namespace qntest
