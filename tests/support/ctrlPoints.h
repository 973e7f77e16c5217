// Control points as the discovery tests add them: on 127.0.0.1, told of
// every device they track (notifyApp), running.
#pragma once

#include "qnSdkApi.h"
#include "text.h"

#include <map>
#include <mutex>
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

// What an explorer does with the devices its plain control point is offered
// (MT_CP_ALIVE): it adds a control point bound to each new description URL,
// running, with the plain one as parent, and refuses, so that the plain one
// is free for the next device. The lock is taken after the stack's (the
// handler runs under it): a test thread takes qnLockModel first.
struct Explorer {
    std::mutex lock;
    std::map<std::string, QN_CONTROL_POINT> bound; // description URL -> its control point
    int failedAdds = 0;
    QNMsgHandler boundHandler = nullptr;           // the bound control points' handler

    void reset(QNMsgHandler handler)
    {
        std::lock_guard guard(lock);
        bound.clear();
        failedAdds = 0;
        boundHandler = handler;
    }
};
inline Explorer explorer;

inline QN_RET exploreHandler(QN_ENTITY plain, int32_t type, QN_COOKIE, void *arg)
{
    if (type != MT_CP_ALIVE)
        return QN_OK;
    std::lock_guard guard(explorer.lock);
    std::string location = static_cast<const char *>(arg);
    if (explorer.bound.count(location) == 0) {
        QN_CONTROL_POINT cp = addRunningCp(2, location, explorer.boundHandler, 0, plain);
        if (cp == QN_INVALID_CONTROL_POINT)
            ++explorer.failedAdds;
        else
            explorer.bound[location] = cp;
    }
    return QN_ERR;
}

} // namespace qntest
