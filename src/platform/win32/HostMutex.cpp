#include "platform/HostMutex.h"

#include <windows.h>

namespace platform {

MutexWait waitMutex(MutexHandle mutex) {
    switch (WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE)) {
    case WAIT_OBJECT_0: return MutexWait::acquired;
    case WAIT_ABANDONED: return MutexWait::abandoned;
    default: return MutexWait::failed;
    }
}

bool releaseMutex(MutexHandle mutex) { return ReleaseMutex(static_cast<HANDLE>(mutex)) != 0; }

}  // namespace platform
