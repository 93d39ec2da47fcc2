#include "HostLock.h"

bool initHostMutex(pthread_mutex_t& mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    const bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutex_init(&mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

HostLock::HostLock() { initHostMutex(mutex); }

HostLock::~HostLock() { pthread_mutex_destroy(&mutex); }

platform::MutexHandle HostLock::handle() { return &mutex; }
