#include "serverThread.h"

#include <pthread.h>

namespace qncli {

QN_RET startServerThread(QNThreadEntry entry, int32_t stackSize)
{
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (stackSize > 0)
        pthread_attr_setstacksize(&attr, static_cast<size_t>(stackSize));
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, entry, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0)
        return QN_ERR;
    pthread_detach(thread);
    return QN_OK;
}

} // namespace qncli
