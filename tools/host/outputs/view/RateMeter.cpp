#include "RateMeter.h"

namespace host {

double RateMeter::update(std::uint64_t total, Clock::time_point now) {
    samples_.emplace_back(now, total);
    while (samples_.size() > 2 && now - samples_[1].first >= std::chrono::seconds(1)) samples_.pop_front();
    const auto& oldest = samples_.front();
    double seconds = std::chrono::duration<double>(now - oldest.first).count();
    if (seconds < 0.2) return 0.0;
    return static_cast<double>(total - oldest.second) / seconds;
}

}  // namespace host
