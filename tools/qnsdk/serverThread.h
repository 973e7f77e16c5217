// The thread-creation function the tool hands to qnSdkInit: the stack's
// server loop on a detached thread with the stack size asked for.
#pragma once

#include "qnSdkApi.h"

namespace qncli {

QN_RET startServerThread(QNThreadEntry entry, int32_t stackSize);

// Holds the stack's model lock for a scope: the model a batch of queries
// reads (and the strings they return) stays whole while the server thread
// runs. Taken before any lock of the tool's own, the order the stack's
// handlers take them in.
class ModelLock {
public:
    ModelLock() { qnLockModel(); }
    ~ModelLock() { qnUnlockModel(); }
    ModelLock(const ModelLock &) = delete;
    ModelLock &operator=(const ModelLock &) = delete;
};

} // namespace qncli
