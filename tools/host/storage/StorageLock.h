// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include <cerrno>
#include <ctime>

#include <pthread.h>

namespace host {

// One of the devices' storage mutexes for one scope, taken within a bound on
// the monotonic clock (a clock step cannot stretch it). A holder that died
// left each record whole (each is written in one copy), so such a mutex is
// made usable again and taken. result(): 0 when held, else ETIMEDOUT,
// ENOTRECOVERABLE or another error of the mutex.
class StorageLock {
public:
    static constexpr unsigned kTimeoutMs = 1000;

    explicit StorageLock(pthread_mutex_t& mutex, unsigned timeoutMs = kTimeoutMs) : mutex_(&mutex) {
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_sec += static_cast<time_t>(timeoutMs / 1000);
        until.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000L;
        }
        result_ = pthread_mutex_clocklock(mutex_, CLOCK_MONOTONIC, &until);
        if (result_ == EOWNERDEAD) result_ = pthread_mutex_consistent(mutex_);
    }
    ~StorageLock() {
        if (result_ == 0) pthread_mutex_unlock(mutex_);
    }
    StorageLock(const StorageLock&) = delete;
    StorageLock& operator=(const StorageLock&) = delete;
    bool held() const { return result_ == 0; }
    int result() const { return result_; }

private:
    pthread_mutex_t* mutex_;
    int result_ = 0;
};

}  // namespace host
