// outputs/json/: every change as a JSON line on standard output.
#pragma once

#include "ChangeEvent.h"

#include <atomic>
#include <mutex>

namespace host {

// The JSON Lines stream: one object per changed record, written whole as
// soon as the device's call returns.
class JsonFeed : public ChangeListener {
public:
    explicit JsonFeed(int fd) : fd_(fd) {}
    void changed(const ChangeEvent& event) override;
    // The errno of the first write that failed (EPIPE: the reader went
    // away), 0 while all is well. Nothing more is written after one.
    int failure() const { return failure_.load(); }

private:
    int fd_;
    std::atomic<int> failure_{0};
    std::mutex mutex_;
};

}  // namespace host
