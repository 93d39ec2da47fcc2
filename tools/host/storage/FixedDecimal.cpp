#include "FixedDecimal.h"

#include <cstdio>

namespace host {

std::string fixedDecimal(std::int32_t stored, int places) {
    long long value = stored;
    long long scale = 1;
    for (int i = 0; i < places; ++i) scale *= 10;
    unsigned long long magnitude = static_cast<unsigned long long>(value < 0 ? -value : value);
    char text[48];
    std::snprintf(text, sizeof text, "%s%llu.%0*llu", value < 0 ? "-" : "", magnitude / scale, places,
                  magnitude % scale);
    return text;
}

}  // namespace host
