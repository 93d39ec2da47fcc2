// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// The stored fixed-point value as its exact decimal: 1250 with 3 places is "1.250".
std::string fixedDecimal(std::int32_t stored, int places);

}  // namespace host
