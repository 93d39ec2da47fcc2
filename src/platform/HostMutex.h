#pragma once

// The mutex a host shares with its devices: a Windows mutex HANDLE, or on
// POSIX a pthread_mutex_t* the host created process-shared and robust.
namespace platform {

using MutexHandle = void*;

enum class MutexWait {
    acquired,   // held by the calling thread
    abandoned,  // held by the calling thread, its previous owner died holding it;
                // the protected state may be inconsistent, the mutex itself is usable
    failed,     // not held; lastSystemError() tells why
};

// Waits without a time limit.
MutexWait waitMutex(MutexHandle mutex);

// False when the calling thread could not release it; lastSystemError() tells why.
bool releaseMutex(MutexHandle mutex);

}  // namespace platform
