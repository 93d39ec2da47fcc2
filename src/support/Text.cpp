#include "support/Text.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace {

unsigned char lowered(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

int compareNoCase(const char* first, const char* second) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(first != nullptr ? first : "");
    const unsigned char* b = reinterpret_cast<const unsigned char*>(second != nullptr ? second : "");
    for (;; ++a, ++b) {
        unsigned char x = lowered(*a);
        unsigned char y = lowered(*b);
        if (x != y) return x < y ? -1 : 1;
        if (x == '\0') return 0;
    }
}

void lowerCase(char* text) {
    if (text == nullptr) return;
    for (; *text != '\0'; ++text) *text = static_cast<char>(lowered(static_cast<unsigned char>(*text)));
}

std::int32_t parseInteger(const char* text) {
    if (text == nullptr) return 0;
    long value = std::strtol(text, nullptr, 0);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

double parseReal(const char* text) {
    if (text == nullptr) return 0.0;
    return std::strtod(text, nullptr);
}

bool beginsWithLetter(const char* text) {
    return text != nullptr && std::isalpha(static_cast<unsigned char>(text[0])) != 0;
}
