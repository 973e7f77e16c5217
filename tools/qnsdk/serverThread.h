// The thread-creation function the tool hands to qnSdkInit: the stack's
// server loop on a detached thread with the stack size asked for.
#pragma once

#include "qnSdkApi.h"

namespace qncli {

QN_RET startServerThread(QNThreadEntry entry, int32_t stackSize);

} // namespace qncli
