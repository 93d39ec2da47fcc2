#pragma once

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// One thread per core that only computes, at normal priority: the busy
// machine a lab's render programs make. Each thread ends by itself once
// `bound` has passed, should the benchmark not get to stop it.
class BusyLoad {
public:
    BusyLoad(unsigned threads, std::chrono::seconds bound);
    ~BusyLoad();
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};
