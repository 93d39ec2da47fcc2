// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include <chrono>
#include <cstdint>

namespace host {

// Bytes the calling thread has read so far, as the system counts them. A
// device's thread reads little but its line, so this is what it took off
// the line. Learning the count costs a system call, so a device's thread
// asks now() only where it must and every() in its loop.
class ThreadReadMeter {
public:
    // Must be made on the thread it measures.
    explicit ThreadReadMeter(std::chrono::milliseconds interval = std::chrono::milliseconds(1000));
    ~ThreadReadMeter();
    ThreadReadMeter(const ThreadReadMeter&) = delete;
    ThreadReadMeter& operator=(const ThreadReadMeter&) = delete;

    // False where the system keeps no such count.
    bool available() const { return fd_ >= 0; }
    // The count, less what this meter itself read to learn it.
    std::uint64_t now();
    // The same, but asked anew only once `interval` has passed since it was
    // last asked; in between, the count as it was then.
    std::uint64_t every(std::chrono::steady_clock::time_point time);

private:
    int fd_ = -1;
    std::chrono::milliseconds interval_;
    std::uint64_t own_ = 0;
    std::uint64_t last_ = 0;
    std::chrono::steady_clock::time_point asked_{};
};

}  // namespace host
