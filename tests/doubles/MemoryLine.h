#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A serial line in memory in place of the system's, for the benchmarks and
// fuzz targets: it opens under any name and its reads serve the given bytes,
// once or over and over. Served once, the bytes are soon used up, and every
// read after that times out at once. The far end may also fail one read or
// clear the host's keep-running flag when the reader reaches a given byte.
namespace memoryline {

constexpr std::size_t kNever = static_cast<std::size_t>(-1);

// The bytes must outlive the reads.
void serve(const std::uint8_t* bytes, std::size_t size);
// A copy of the bytes, served over and over; with none every read times out.
void repeat(const std::vector<std::uint8_t>& bytes);
// The read that would deliver byte `position` fails instead (it is not consumed).
void failReadAt(std::size_t position);
// When the reader reaches byte `position`, *flag becomes 0 before the byte is delivered.
void clearFlagAt(std::size_t position, std::int32_t* flag);
bool exhausted();

}  // namespace memoryline
