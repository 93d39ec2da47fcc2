#include "controller/BracketList.h"

#include <cstdlib>

std::uint32_t readBracketList(const char* text, float* values, std::uint32_t count) {
    if (text == nullptr || values == nullptr || text[0] != '[') return 0;
    const char* cursor = text + 1;
    std::uint32_t read = 0;
    while (read < count) {
        if (read > 0) {
            if (*cursor != ',') break;
            ++cursor;
        }
        char* end = nullptr;
        // strtof saturates to infinity where a scanf conversion would be undefined.
        const float value = std::strtof(cursor, &end);
        if (end == cursor) break;
        values[read++] = value;
        cursor = end;
    }
    return read;
}
