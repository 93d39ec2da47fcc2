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
