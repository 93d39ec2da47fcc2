#include "platform/WallClock.h"

#include <windows.h>

#include <time.h>

namespace platform {

ClockReading readClock() {
    ClockReading r;
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // FILETIME counts 100 ns steps since 1601; move to 1970.
    const unsigned long long since1970 = (t.QuadPart - 116444736000000000ULL) / 10000ULL;
    r.seconds = static_cast<std::int64_t>(since1970 / 1000ULL);
    r.milliseconds = static_cast<std::uint16_t>(since1970 % 1000ULL);
    TIME_ZONE_INFORMATION tz;
    DWORD zone = GetTimeZoneInformation(&tz);
    if (zone != TIME_ZONE_ID_INVALID) {
        r.minutesWest = static_cast<std::int16_t>(tz.Bias);
        r.daylight = zone == TIME_ZONE_ID_DAYLIGHT ? 1 : 0;
    }
    return r;
}

bool toLocalTime(std::int64_t seconds, std::tm& out) {
    __time64_t t = static_cast<__time64_t>(seconds);
    return _localtime64_s(&out, &t) == 0;
}

}  // namespace platform
