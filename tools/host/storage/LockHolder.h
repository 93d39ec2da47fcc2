// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include <pthread.h>
#include <sys/types.h>

namespace host {

// Who holds a storage mutex, read from the mutex itself: the lock word of a
// robust mutex holds its owner's thread id. 0 when it is free.
pid_t lockOwnerThread(const pthread_mutex_t& mutex);

// True when thread `tid` of this process sleeps waiting for `mutex`.
bool threadWaitsFor(pid_t tid, const pthread_mutex_t& mutex);

// The calling thread's id, as lockOwnerThread reports it.
pid_t currentThreadId();

}  // namespace host
