// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include <atomic>
#include <cstdint>

namespace host {

// How a device is doing, readable from any thread.
struct DeviceStats {
    enum State { starting, running, reconnecting, stopped, failed, waiting };
    std::atomic<int> state{starting};
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint64_t> records{0};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> changes{0};
    std::atomic<std::uint64_t> errors{0};
    std::atomic<std::uint64_t> reconnects{0};
    // Changes not published when they came, their storage's lock being busy
    // for too long: the entry goes out again with the next call.
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::int64_t> lastChangeUs{0};  // wall clock, microseconds since 1970
    // While reconnecting: the try under way or next, and when it starts
    // (steady clock, nanoseconds since its epoch).
    std::atomic<unsigned> reconnectTry{0};
    std::atomic<std::int64_t> nextTryNs{0};
};

const char* stateName(int state);

}  // namespace host
