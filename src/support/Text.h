#pragma once

#include <cstdint>

// 0 when equal ignoring ASCII case, -1 when the first sorts before the second,
// 1 otherwise. A null text counts as empty.
int compareNoCase(const char* first, const char* second);

// Lower-cases A-Z in place; every other byte is kept.
void lowerCase(char* text);

// strtol with base 0, clamped to the signed 32-bit range; 0 for no number.
std::int32_t parseInteger(const char* text);

// Real-number option arguments: strtod of the text, 0.0 for no number or null.
double parseReal(const char* text);

// True when the text begins with a letter (the option parsers' reject rule).
bool beginsWithLetter(const char* text);
