#pragma once

#include <cstdint>

class CLogH;

// What every option parser says about a line it refuses, and the argument
// checks they share. The texts are the hosts' own, byte for byte.
namespace optionargs {

constexpr const char* kIncomplete = "Incomplete option line found for ";
constexpr const char* kTooMany = "Too many args found for ";
constexpr const char* kInvalidArg = "Invalid arg found for ";

// "<problem><option><lineNumber><ending>" after the logger's error prefix and
// `source`. The text goes out even with the logger switched off, so a refused
// line is never silent.
void reportFault(const CLogH& logger, const char* source, const char* problem, const char* option,
                 std::uint32_t lineNumber, const char* ending = ".");

// kIncomplete below `fewest` arguments, kTooMany above `most`, null between.
const char* countProblem(std::uint32_t count, std::uint32_t fewest, std::uint32_t most);

// A number argument: strtod of the text in single precision, refused only when
// nothing was read from a text that starts with a letter ("abc"); "-x" and
// "1a" pass as 0 and 1.
bool readReal(const char* text, float& value);

}  // namespace optionargs
