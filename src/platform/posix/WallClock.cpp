#include "platform/WallClock.h"

#include <time.h>

namespace platform {

ClockReading readClock() {
    ClockReading r;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    r.seconds = static_cast<std::int64_t>(now.tv_sec);
    r.milliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1000000);
    std::tm local{};
    if (localtime_r(&now.tv_sec, &local) != nullptr) {
        r.daylight = local.tm_isdst > 0 ? 1 : 0;
        // tm_gmtoff already includes the daylight hour; report the standard zone.
        long west = -local.tm_gmtoff / 60 + (r.daylight ? 60 : 0);
        r.minutesWest = static_cast<std::int16_t>(west);
    }
    return r;
}

bool toLocalTime(std::int64_t seconds, std::tm& out) {
    time_t t = static_cast<time_t>(seconds);
    return localtime_r(&t, &out) != nullptr;
}

}  // namespace platform
