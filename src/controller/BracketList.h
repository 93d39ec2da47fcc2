#pragma once

#include <cstdint>

// Reads an option argument of the form "[v1,v2,...]" member by member, as a
// scanf format "[%f,%f,...]" would: reading stops at the first member that
// does not match, members not read keep their values, and text after the
// last member is ignored. Returns the number of members read.
std::uint32_t readBracketList(const char* text, float* values, std::uint32_t count);
