#pragma once

#include "ButtonTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kKeyHeader = 0x80;
constexpr std::uint8_t kTextHeader = 0x82;
constexpr std::uint8_t kKeyTerminator = 0x8F;
constexpr std::uint8_t kTextTerminator = 0xFC;

// A key record reporting exactly the given buttons: one (low, high) pair per
// pressed button, in button order; no pair at all when none is pressed.
Bytes keyRecord(ButtonSet pressed);

// A text/ACK record. False when the text holds a byte that would end the
// record early (either terminator).
bool textRecord(const std::string& text, Bytes& out);

// "80 01 10 8F": the bytes in upper-case hex, blank-separated.
std::string hexText(const Bytes& bytes);

}  // namespace sim
