#include "storage/CMutexH.h"

#include "platform/SystemError.h"
#include "support/CLogH.h"

#include <iostream>

namespace {

// Reports still reach standard output when the host left the logger unset.
const CLogH& fallbackLogger() {
    static const CLogH logger = [] {
        CLogH l;
        l.setName("CMutexH");
        return l;
    }();
    return logger;
}

}  // namespace

const CLogH& CMutexH::log() const { return logger != nullptr ? *logger : fallbackLogger(); }

void CMutexH::reportSystemError(const char* prefix) const {
    const platform::SystemErrorCode code = platform::lastSystemError();
    log().error(prefix, false);
    std::cout << platform::systemErrorText(code) << std::endl;
}

bool CMutexH::lock() {
    switch (platform::waitMutex(handle)) {
    case platform::MutexWait::acquired:
        return true;
    case platform::MutexWait::abandoned:
        reportSystemError("CMutexH: Locking mutex: ");
        // The wait did take the mutex. Callers never unlock after a failed
        // lock, so give it back here: the host and the other devices keep
        // working instead of waiting for ever on a mutex nobody will release.
        platform::releaseMutex(handle);
        return false;
    case platform::MutexWait::failed:
        break;
    }
    reportSystemError("CMutexH: Locking mutex: ");
    return false;
}

bool CMutexH::unlock() {
    if (platform::releaseMutex(handle)) return true;
    reportSystemError("CMutexH: Unlocking mutex: ");
    return false;
}
