// outputs/json/: every change as a JSON line on standard output.
#pragma once

#include "QueuedOutput.h"

#include <atomic>
#include <cstdint>

namespace host {

// The JSON Lines stream: one object per changed record, written whole from a
// thread of its own. Records the reader was too slow for are dropped and
// said in the stream, where they would have been: {"kind":"dropped","records":N}.
class JsonFeed : public QueuedOutput {
public:
    static constexpr std::size_t kQueueCapacity = 4096;

    explicit JsonFeed(int fd, std::size_t capacity = kQueueCapacity) : QueuedOutput(capacity), fd_(fd) {}
    ~JsonFeed() override { stop(std::chrono::steady_clock::now()); }
    // The errno of the first write that failed (EPIPE: the reader went
    // away), 0 while all is well. Nothing more is written after one.
    int failure() const { return failure_.load(); }
    // Records taken from the queue but not written whole: the write failed
    // or was given up at the stop.
    std::uint64_t unwritten() const { return unwritten_.load(); }

private:
    void run() override;

    int fd_;
    std::atomic<int> failure_{0};
    std::atomic<std::uint64_t> unwritten_{0};
};

}  // namespace host
