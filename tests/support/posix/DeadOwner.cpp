#include "DeadOwner.h"

#include "TestStorages.h"

#include <cerrno>
#include <thread>

bool deadOwnersAreDetected() {
    static const bool detected = [] {
        pthread_mutex_t probe;
        if (!initHostMutex(probe)) return false;
        abandonMutex(probe);
        // The owner is gone once the join returns, so the answer is there at once.
        if (pthread_mutex_trylock(&probe) != EOWNERDEAD) return false;  // left locked for good
        pthread_mutex_consistent(&probe);
        pthread_mutex_unlock(&probe);
        pthread_mutex_destroy(&probe);
        return true;
    }();
    return detected;
}

void abandonMutex(pthread_mutex_t& mutex) {
    std::thread([&mutex] { pthread_mutex_lock(&mutex); }).join();
}
