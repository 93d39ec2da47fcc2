// outputs/osc/: every change over OSC to render nodes and other receivers, with keyframes.
#pragma once

#include "OscPublisher.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// Sends that failed and changes the queue could not take: a line for the
// view, and for the log when there is no view, once they grow.
class OscTrouble {
public:
    explicit OscTrouble(const OscPublisher* publisher) : publisher_(publisher) {}
    // The line while there is trouble; `logged`: also said in the log, at
    // most every ten seconds and only when it grew.
    std::vector<std::string> lines(bool logged, std::chrono::steady_clock::time_point now);

private:
    const OscPublisher* publisher_;
    std::uint64_t reported_ = 0;
    std::chrono::steady_clock::time_point lastReport_{};
};

}  // namespace host
