#pragma once

#include "BenchLine.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One way a record travels from a line to memory that a reader polls (the
// host's shared memory, the floor reader's, ...). Several paths may watch
// the same line.
struct MeasuredPath {
    std::string name;
    BenchLine* line = nullptr;
    // The buttons a reader sees now, button n at bit n - 1.
    std::function<std::uint32_t()> buttons;

    // Filled by measureInterleaved: nanoseconds from the write of each record
    // to its state being seen, and how many were never seen.
    std::vector<std::int64_t> latencies;
    int missed = 0;
};

struct ProbeSettings {
    int recordsPerLine = 1000;
    std::chrono::milliseconds interval{5};  // from one write to the next, over all lines
    std::chrono::milliseconds patience{100};
    // After this long, polls with pauses rather than back to back: a probe at
    // real-time priority must not keep the kernel's workers (the ones that
    // pass a pseudo-terminal's bytes on) off its core. Negative: never pause.
    std::chrono::microseconds spinFor{-1};
    std::chrono::microseconds pause{20};
};

// Writes key records round-robin over the paths' lines, one every interval,
// each whole in one write; record i of a line is body i mod `patterns`, whose
// state is button i mod `patterns` + 1 alone. After each write it polls every
// path of that line, one locked copy after another, noting when each shows
// the new state. So all paths are measured in the same minutes, under the
// same load, observed the same way.
void measureInterleaved(std::vector<MeasuredPath>& paths, const std::uint8_t (*bodies)[2], int patterns,
                        const ProbeSettings& settings);
