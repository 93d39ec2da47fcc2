// changes/: the change bus: each record a device rewrote, handed to every output.
#pragma once

#include "PublishedRecord.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace host {

// Records handed from the device threads to the sender. Putting one in only
// copies it under a lock that the sender holds for no longer than a copy; a
// full queue drops the record and counts it rather than make a device wait.
class ChangeQueue {
public:
    explicit ChangeQueue(std::size_t capacity);

    // False (counted) when the queue was full.
    bool push(const PublishedRecord& record);
    // Waits until a record is queued, `until` passes or close() was called,
    // then moves everything queued into `out` (cleared first).
    void takeAll(std::vector<PublishedRecord>& out, std::chrono::steady_clock::time_point until);
    // Wakes the taker for good.
    void close();
    bool closed() const;

    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<PublishedRecord> ring_;
    std::size_t head_ = 0;  // next to take
    std::size_t size_ = 0;
    bool closed_ = false;
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace host
