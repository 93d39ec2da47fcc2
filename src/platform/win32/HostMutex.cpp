#include "platform/HostMutex.h"

#include <windows.h>

namespace platform {

MutexWait waitMutex(MutexHandle mutex) {
    switch (WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE)) {
    case WAIT_OBJECT_0: return MutexWait::acquired;
    case WAIT_ABANDONED:
        // A wait that succeeds sets no error code, so the report would show
        // whatever failed last. Name the cause with the code whose text every
        // Windows (and Wine) has: the previous owner ended holding it.
        SetLastError(ERROR_SEM_OWNER_DIED);
        return MutexWait::abandoned;
    default: return MutexWait::failed;
    }
}

bool releaseMutex(MutexHandle mutex) { return ReleaseMutex(static_cast<HANDLE>(mutex)) != 0; }

}  // namespace platform
