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
