#include "support/Clock.h"

#include "platform/WallClock.h"

double secondsNow() {
    platform::ClockReading now = platform::readClock();
    return static_cast<double>(now.seconds) + now.milliseconds * 0.001;
}
