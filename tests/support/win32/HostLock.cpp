#include "HostLock.h"

#include <thread>

HostLock::HostLock() : mutex(CreateMutexA(NULL, FALSE, NULL)) {}

HostLock::~HostLock() {
    if (mutex != NULL) CloseHandle(mutex);
}

bool mutexIsFree(HANDLE mutex) {
    DWORD result = WAIT_FAILED;
    std::thread([&] {
        result = WaitForSingleObject(mutex, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    }).join();
    return result == WAIT_OBJECT_0;
}

platform::MutexHandle HostLock::handle() { return mutex; }
