#pragma once

#include "platform/HostMutex.h"

#include <cstddef>
#include <cstdint>

class CLogH;

// The device's view of the mutex a host shares with all devices of one
// storage. The host lays the object out and owns it; the device only reads
// `handle` and `logger`.
class CMutexH {
public:
    // Waits without a time limit. False when the mutex is not held on return;
    // an abandoned mutex is reported, left consistent and released again.
    bool lock();
    bool unlock();

    std::uint8_t hostFields0[68];
    platform::MutexHandle handle;
    std::uint8_t hostFields1[8];
    CLogH* logger;

private:
    const CLogH& log() const;
    void reportSystemError(const char* prefix) const;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(CMutexH, handle) == 68 && offsetof(CMutexH, logger) == 80, "CMutexH as the host lays it out");
#endif
