#pragma once

#include <cstdint>
#include <vector>

// Median, 99th percentile and maximum of a set of latencies (nanoseconds).
struct LatencyFigures {
    std::size_t count = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
};

// Nearest-rank percentiles; all zero for an empty set.
LatencyFigures latencyFigures(std::vector<std::int64_t> samples);

// Which record each observed state belongs to. Records cycle through
// `patterns` states, record i being in state i mod patterns; observations are
// (time, state) in the order seen. A state seen is matched to the next record
// in that state at most one cycle ahead, so a few records the probe missed do
// not shift the rest. Returns the latency of every matched record.
std::vector<std::int64_t> matchObservations(const std::vector<std::int64_t>& recordWritten,
                                            const std::vector<std::pair<std::int64_t, int>>& observations,
                                            int patterns);
