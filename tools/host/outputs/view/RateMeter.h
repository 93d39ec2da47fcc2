// outputs/view/: the terminal view: the devices, their entries and the log, live or as plain text.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>

namespace host {

// Records per second over about the last second, from a growing counter.
class RateMeter {
public:
    using Clock = std::chrono::steady_clock;

    double update(std::uint64_t total, Clock::time_point now = Clock::now());

private:
    std::deque<std::pair<Clock::time_point, std::uint64_t>> samples_;
};

}  // namespace host
