// The stack's model lock for a scope. It comes first in the explorer's lock
// order: whoever also takes a lock of the model's takes this one before it.
// It is recursive, and message handlers already run under it.
#pragma once

#include "qnSdkApi.h"

namespace lumivar {

class ModelLock {
public:
    ModelLock() { qnLockModel(); }
    ~ModelLock() { qnUnlockModel(); }
    ModelLock(const ModelLock &) = delete;
    ModelLock &operator=(const ModelLock &) = delete;
};

} // namespace lumivar
