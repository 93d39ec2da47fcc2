#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

struct ClockReading {
    std::int64_t seconds = 0;       // since 1 January 1970, UTC
    std::uint16_t milliseconds = 0; // within that second
    std::int16_t minutesWest = 0;   // standard time zone, minutes west of UTC
    std::int16_t daylight = 0;      // 1 while daylight-saving time is in effect
};

ClockReading readClock();

// Local calendar time of a reading's seconds; false when the system cannot convert it.
bool toLocalTime(std::int64_t seconds, std::tm& out);

}  // namespace platform
