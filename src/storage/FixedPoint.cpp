#include "storage/FixedPoint.h"

#include <cmath>

std::int32_t encodeFixed(float value, double scale) {
    const double product = static_cast<double>(value) * scale;
    if (std::isnan(product)) return 0;
    if (!(product < 2147483648.0)) return INT32_MAX;
    if (!(product > -2147483649.0)) return INT32_MIN;
    return static_cast<std::int32_t>(product);
}

float decodeFixed(std::int32_t stored, float step) {
    return static_cast<float>(static_cast<double>(stored) * static_cast<double>(step));
}
