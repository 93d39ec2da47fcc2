#pragma once

#include <cstdint>
#include <vector>

// What the in-memory serial line serves: the given bytes, over and over. With
// no bytes every read times out at once.
void setMemoryLineBytes(const std::vector<std::uint8_t>& bytes);
