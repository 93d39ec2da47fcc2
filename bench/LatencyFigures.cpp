#include "LatencyFigures.h"

#include <algorithm>
#include <cmath>

LatencyFigures latencyFigures(std::vector<std::int64_t> samples) {
    LatencyFigures figures;
    if (samples.empty()) return figures;
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](double fraction) {
        const std::size_t r = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
        return static_cast<double>(samples[std::min(samples.size(), std::max<std::size_t>(r, 1)) - 1]);
    };
    figures.count = samples.size();
    figures.median = rank(0.5);
    figures.p99 = rank(0.99);
    figures.max = static_cast<double>(samples.back());
    return figures;
}

std::vector<std::int64_t> matchObservations(const std::vector<std::int64_t>& recordWritten,
                                            const std::vector<std::pair<std::int64_t, int>>& observations,
                                            int patterns) {
    std::vector<std::int64_t> latencies;
    std::size_t next = 0;
    for (const auto& seen : observations) {
        if (seen.second < 0 || seen.second >= patterns) continue;
        for (std::size_t r = next; r < recordWritten.size() && r < next + static_cast<std::size_t>(patterns); ++r) {
            if (static_cast<int>(r % static_cast<std::size_t>(patterns)) == seen.second) {
                latencies.push_back(seen.first - recordWritten[r]);
                next = r + 1;
                break;
            }
        }
    }
    return latencies;
}
