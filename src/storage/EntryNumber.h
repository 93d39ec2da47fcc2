#pragma once

#include <cstdint>

// A storage's entries that a change mask can flag; a record carries a number
// only in that range.
constexpr std::uint32_t kMaskEntries = 32;

inline bool isMaskEntry(std::uint32_t n) { return n >= 1 && n <= kMaskEntries; }

// Number n of a device moved past the `offset` entries of the devices before
// it; 0 when that is no entry a mask can flag.
inline std::uint32_t entryNumber(std::uint32_t n, std::uint32_t offset) {
    const std::uint32_t number = n + offset;
    return isMaskEntry(number) ? number : 0;
}
