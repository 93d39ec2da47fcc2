#pragma once

#include "ChangeEvent.h"

#include <mutex>

namespace host {

// The JSON Lines stream: one object per changed record, written whole as
// soon as the device's call returns.
class JsonFeed : public ChangeListener {
public:
    explicit JsonFeed(int fd) : fd_(fd) {}
    void changed(const ChangeEvent& event) override;

private:
    int fd_;
    std::mutex mutex_;
};

}  // namespace host
