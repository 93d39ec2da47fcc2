#pragma once

#include "platform/HostMutex.h"

#include <pthread.h>

// The mutex a POSIX host guards a storage with: process-shared and robust.
struct HostLock {
    HostLock();
    ~HostLock();
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;

    // What the host puts in the storage's CMutexH.
    platform::MutexHandle handle() { return &mutex; }

    pthread_mutex_t mutex;
};

// Sets up a mutex as a host does: process-shared and robust.
bool initHostMutex(pthread_mutex_t& mutex);
