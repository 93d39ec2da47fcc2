#pragma once

#include <pthread.h>

// Some runtimes (qemu's user mode among them) never tell a waiter that the
// owner of a robust mutex died: a wait on such a mutex would never end there.
bool deadOwnersAreDetected();

// Locks the mutex on a thread of its own that then ends without unlocking it,
// as a host thread would that died while holding the storage.
void abandonMutex(pthread_mutex_t& mutex);
