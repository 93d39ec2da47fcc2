#pragma once

#include <pthread.h>

// A POSIX host's storage mutex: process-shared and robust.
using NativeMutex = pthread_mutex_t;

// Sets up a mutex as a host does: process-shared and robust.
bool initHostMutex(pthread_mutex_t& mutex);
