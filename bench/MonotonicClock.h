#pragma once

#include <chrono>
#include <cstdint>

// Now on CLOCK_MONOTONIC (steady_clock), the clock quorlix-sim stamps its
// writes with, in nanoseconds.
inline std::int64_t monotonicNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
