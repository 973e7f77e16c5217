// The server thread as most tests and benchmarks start it: a detached
// std::thread (QNApiSdkConfig.createThreadFunc).
#pragma once

#include "qnSdkApi.h"

#include <thread>

namespace qntest {

inline QN_RET startThread(QNThreadEntry entry, int32_t)
{
    std::thread(entry, nullptr).detach();
    return QN_OK;
}

} // namespace qntest
