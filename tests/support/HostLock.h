#pragma once

#include "NativeMutex.h"
#include "platform/HostMutex.h"

// The mutex a host guards a storage with, as the host's system makes it
// (NativeMutex.h of posix/ or win32/).
struct HostLock {
    HostLock();
    ~HostLock();
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;

    // What the host puts in the storage's CMutexH.
    platform::MutexHandle handle();

    NativeMutex mutex;
};
