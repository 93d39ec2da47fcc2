// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace host {

// A thread that writes where nobody may ever read (a pipe, a paused
// terminal), yet ends when the host stops: after its deadline its writes give
// up (writeAll's `giveUp`) and a blocked write is woken with a signal that
// interrupts it.
class OutputThread {
public:
    OutputThread() = default;
    ~OutputThread();
    OutputThread(const OutputThread&) = delete;
    OutputThread& operator=(const OutputThread&) = delete;

    void start(std::function<void()> body);
    // Waits until `deadline` for the body to return, then gives up its
    // writes and wakes it. False when it did not end even then: it is left
    // running, with whatever it uses.
    bool joinBefore(std::chrono::steady_clock::time_point deadline);
    const std::atomic<bool>& givingUp() const { return giveUp_; }

private:
    std::atomic<bool> giveUp_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace host
