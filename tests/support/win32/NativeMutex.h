#pragma once

#include "platform/HostMutex.h"

#include <windows.h>

// The mutex a Windows host guards a storage with: an unnamed Win32 mutex.
struct HostLock {
    HostLock();
    ~HostLock();
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;

    // What the host puts in the storage's CMutexH.
    platform::MutexHandle handle() { return mutex; }

    HANDLE mutex;
};

// True when no thread holds the mutex. Asked from a thread of its own: a
// Win32 mutex is recursive, so its owner would always get it.
bool mutexIsFree(HANDLE mutex);
