// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include "quorlix/shm.h"

namespace host {

// A storage's lock for one scope, taken within a bound: a reader that holds
// it for ever cannot wedge the host. held() says whether it was taken.
class StorageLock {
public:
    explicit StorageLock(quorlix_shm_storage& storage, unsigned timeoutMs = QUORLIX_SHM_LOCK_TIMEOUT_MS)
        : mutex_(&storage.lock.mutex) {
        held_ = quorlix_shm_lock_within(mutex_, timeoutMs) == 0;
    }
    ~StorageLock() {
        if (held_) quorlix_shm_unlock(mutex_);
    }
    StorageLock(const StorageLock&) = delete;
    StorageLock& operator=(const StorageLock&) = delete;
    bool held() const { return held_; }

private:
    pthread_mutex_t* mutex_;
    bool held_ = false;
};

}  // namespace host
