// outputs/view/: the terminal view: the devices, their entries and the log, live or as plain text.
#pragma once

#include "OutputThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

namespace host {

// Writes the view's text from a thread of its own, so that a terminal that
// is paused (XOFF), a slow link or a pipe nobody reads holds up neither the
// devices nor the host's stop. A live view keeps only its newest frame; a
// plain stream keeps up to `keep` blocks and counts those it skips.
class FrameWriter {
public:
    FrameWriter(int fd, bool newestOnly, std::size_t keep = 16);
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Never waits for the terminal. A live view's newer frame replaces a
    // frame not yet written, but never a `lasting` text (the screen's set-up
    // and the cursor given back).
    void put(std::string text, bool lasting = false);
    // Writes what is pending until `deadline`, then gives up. False when
    // the thread did not end even then (it is left behind, and this object).
    bool stop(std::chrono::steady_clock::time_point deadline);
    // The errno of a failed write (EPIPE: nobody reads it), or 0.
    int failure() const { return failure_.load(); }
    std::uint64_t skipped() const { return skipped_.load(); }

private:
    void run();

    int fd_;
    bool newestOnly_;
    std::size_t keep_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::pair<std::string, bool>> pending_;  // text, lasting
    bool closed_ = false;
    std::atomic<int> failure_{0};
    std::atomic<std::uint64_t> skipped_{0};
    OutputThread thread_;
};

}  // namespace host
