#pragma once

#include <windows.h>

// A Windows host's storage mutex: an unnamed Win32 mutex.
using NativeMutex = HANDLE;

// True when no thread holds the mutex. Asked from a thread of its own: a
// Win32 mutex is recursive, so its owner would always get it.
bool mutexIsFree(HANDLE mutex);
