#pragma once

#include <cstdint>

namespace host {

// Bytes the calling thread has read so far, as the system counts them. A
// device's thread reads nothing but its line, so the difference across one
// call of its read operation is what that call took off the line. The
// plug-in tells the host only that a call succeeded, not whether a record
// came; this tells them apart.
class ThreadReadMeter {
public:
    // Must be made on the thread it measures.
    ThreadReadMeter();
    ~ThreadReadMeter();
    ThreadReadMeter(const ThreadReadMeter&) = delete;
    ThreadReadMeter& operator=(const ThreadReadMeter&) = delete;

    // False where the system keeps no such count.
    bool available() const { return fd_ >= 0; }
    // The count, less what this meter itself read to learn it.
    std::uint64_t bytes();

private:
    int fd_ = -1;
    std::uint64_t own_ = 0;
};

}  // namespace host
