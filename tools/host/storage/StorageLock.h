// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include <cerrno>
#include <ctime>

#include <pthread.h>
#include <sched.h>

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
        // Almost always free at once; otherwise another device is inside
        // the plug-in for a moment: tried again until the bound.
        result_ = pthread_mutex_trylock(mutex_);
        if (result_ == EBUSY) result_ = wait(timeoutMs);
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
    static long long nowNs() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    }
    int wait(unsigned timeoutMs) {
        const long long until = nowNs() + static_cast<long long>(timeoutMs) * 1000000LL;
        for (unsigned tries = 0;; ++tries) {
            if (nowNs() >= until) return ETIMEDOUT;
            if (tries < 100) {
                sched_yield();
            } else {
                const timespec pause{0, 100000};  // 0.1 ms
                nanosleep(&pause, nullptr);
            }
            const int result = pthread_mutex_trylock(mutex_);
            if (result != EBUSY) return result;
        }
    }

    pthread_mutex_t* mutex_;
    int result_ = 0;
};

}  // namespace host
