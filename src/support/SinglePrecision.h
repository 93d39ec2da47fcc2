#pragma once

#include <cfloat>
#include <cmath>

// Rounds a double to single precision. Values beyond the float range become
// the matching infinity instead of an undefined conversion; NaN stays NaN.
inline float toSingle(double value) {
    if (value > static_cast<double>(FLT_MAX)) return HUGE_VALF;
    if (value < -static_cast<double>(FLT_MAX)) return -HUGE_VALF;
    return static_cast<float>(value);
}
