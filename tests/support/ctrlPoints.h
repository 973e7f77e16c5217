// Control points as the discovery tests add them: on 127.0.0.1, told of
// every device they track (notifyApp), running.
#pragma once

#include "qnSdkApi.h"
#include "text.h"

#include <string>

namespace qntest {

inline QNApiCtrlPointSettings discoverySettings(int cpType, const std::string &descFile, QNMsgHandler handler,
                                                uint16_t eventPort = 0)
{
    QNApiCtrlPointSettings s{};
    s.cpType = cpType;
    copyBounded(s.descFile, sizeof s.descFile, descFile);
    s.notifyApp = 1;
    copyBounded(s.ipAddr, sizeof s.ipAddr, "127.0.0.1");
    s.eventPort = eventPort;
    s.msgHandler = handler;
    return s;
}

inline QN_CONTROL_POINT addRunningCp(int cpType, const std::string &descFile, QNMsgHandler handler,
                                     uint16_t eventPort = 0, QN_CONTROL_POINT parent = QN_INVALID_CONTROL_POINT)
{
    QNApiCtrlPointSettings s = discoverySettings(cpType, descFile, handler, eventPort);
    QN_CONTROL_POINT cp = qnAddCtrlPoint(&s, parent);
    if (cp != QN_INVALID_CONTROL_POINT)
        qnChangeEntityState(cp, ES_RUNNING);
    return cp;
}

} // namespace qntest
