// changes/: the change bus: each record a device rewrote, handed to every output.
#pragma once

#include "ChangeEvent.h"
#include "ChangeQueue.h"
#include "OutputThread.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace host {

// An output on the change bus: a device thread only copies a change into the
// output's own bounded queue (a full queue drops it, counted); the output
// drains the queue on a thread of its own. However slow or stuck the output
// is, no device and no other output waits for it.
//
// A derived output's destructor stops it with no time left; whoever may need
// to leave a stuck one behind (Outputs) stops it first and keeps the object.
class QueuedOutput : public ChangeListener {
public:
    explicit QueuedOutput(std::size_t capacity) : queue_(capacity) {}
    QueuedOutput(const QueuedOutput&) = delete;
    QueuedOutput& operator=(const QueuedOutput&) = delete;

    void changed(const ChangeEvent& event) final;
    void start() {
        thread_.start([this] { run(); });
    }
    // Lets the thread finish what is queued until `deadline`, then gives up
    // its writes and ends it. False when it did not end even then: it is
    // left behind, and this object with it.
    bool stop(std::chrono::steady_clock::time_point deadline) {
        queue_.close();
        wake();
        return thread_.joinBefore(deadline);
    }

    std::uint64_t dropped() const { return queue_.dropped(); }

protected:
    // Until the queue is closed and drained; blocking writes pass givingUp()
    // to writeAll.
    virtual void run() = 0;
    // After a change was queued or the queue closed, on the caller's thread:
    // for an output that waits on more than its queue.
    virtual void wake() {}
    ChangeQueue& queue() { return queue_; }
    const std::atomic<bool>& givingUp() const { return thread_.givingUp(); }

private:
    ChangeQueue queue_;
    OutputThread thread_;
};

}  // namespace host
