#include "BusyLoad.h"

BusyLoad::BusyLoad(unsigned threads, std::chrono::seconds bound) {
    const auto until = std::chrono::steady_clock::now() + bound;
    for (unsigned t = 0; t < threads; ++t) {
        threads_.emplace_back([this, until] {
            volatile unsigned long sink = 0;
            while (!stop_.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < until) {
                for (unsigned i = 0; i < 100000; ++i) sink = sink * 2654435761u + i;
            }
        });
    }
}

BusyLoad::~BusyLoad() {
    stop_ = true;
    for (std::thread& t : threads_) t.join();
}
