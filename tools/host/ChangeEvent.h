#pragma once

#include "quorlix/shm.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace host {

// A record a device rewrote, as the host copied it out after the call.
struct ChangeEvent {
    enum class Kind { controller, tracker };
    Kind kind = Kind::controller;
    const std::string* device = nullptr;
    std::uint32_t entry = 0;
    quorlix_con_data con{};
    quorlix_tra_data tra{};
    // Written by the host for a device whose line is lost (see LineLoss).
    bool lost = false;
};

// How a device is doing, readable from any thread.
struct DeviceStats {
    enum State { starting, running, reconnecting, stopped, failed };
    std::atomic<int> state{starting};
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> records{0};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> changes{0};
    std::atomic<std::uint64_t> errors{0};
    std::atomic<std::uint64_t> reconnects{0};
    std::atomic<std::int64_t> lastChangeUs{0};  // wall clock, microseconds since 1970
    // While reconnecting: the try under way or next, and when it starts
    // (steady clock, nanoseconds since its epoch).
    std::atomic<unsigned> reconnectTry{0};
    std::atomic<std::int64_t> nextTryNs{0};
};

const char* stateName(int state);

// Told of every change, from the device threads.
class ChangeListener {
public:
    virtual ~ChangeListener() = default;
    virtual void changed(const ChangeEvent& event) = 0;
};

}  // namespace host
