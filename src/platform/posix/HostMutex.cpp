#include "platform/HostMutex.h"

#include <cerrno>
#include <pthread.h>

namespace platform {

MutexWait waitMutex(MutexHandle mutex) {
    if (mutex == nullptr) {
        errno = EINVAL;
        return MutexWait::failed;
    }
    auto* m = static_cast<pthread_mutex_t*>(mutex);
    const int result = pthread_mutex_lock(m);
    if (result == 0) return MutexWait::acquired;
    if (result == EOWNERDEAD) {
        // Without this the mutex is unusable for everyone once it is released.
        pthread_mutex_consistent(m);
        errno = EOWNERDEAD;
        return MutexWait::abandoned;
    }
    errno = result;
    return MutexWait::failed;
}

bool releaseMutex(MutexHandle mutex) {
    if (mutex == nullptr) {
        errno = EINVAL;
        return false;
    }
    const int result = pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex));
    if (result == 0) return true;
    errno = result;
    return false;
}

}  // namespace platform
