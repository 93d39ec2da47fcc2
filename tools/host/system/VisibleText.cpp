#include "VisibleText.h"

#include <cstdio>
#include <utility>

namespace host {

std::size_t utf8SequenceAt(const std::string& text, std::size_t at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3
                         : lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xc0) != 0x80) return 0;
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    unsigned char second = byte(at + 1);
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second > 0x9f) || (lead == 0xf0 && second < 0x90) ||
        (lead == 0xf4 && second > 0x8f))
        return 0;
    return length;
}

std::size_t printableAt(const std::string& text, std::size_t at) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    std::size_t length = utf8SequenceAt(text, at);
    if (length == 1) return c >= 0x20 && c != 0x7f ? 1 : 0;
    // U+0080..U+009F are terminal controls too.
    if (length == 2 && c == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0) return 0;
    return length;
}

char32_t codePointAt(const std::string& text, std::size_t at, std::size_t length) {
    static const unsigned char leadBits[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
    char32_t code = static_cast<unsigned char>(text[at]) & leadBits[length];
    for (std::size_t i = 1; i < length; ++i) code = (code << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3f);
    return code;
}

namespace {

// Characters a terminal draws as nothing, or that break or reorder the line
// around them: a name holding one could pass for another or scramble the line.
bool isFormatCharacter(char32_t c) {
    static const std::pair<char32_t, char32_t> ranges[] = {
        {0x00ad, 0x00ad},    // soft hyphen
        {0x061c, 0x061c},    // Arabic letter mark
        {0x180e, 0x180e},    // Mongolian vowel separator
        {0x200b, 0x200f},    // zero-width space, joiners, direction marks
        {0x2028, 0x202e},    // line and paragraph separators, direction embeddings and overrides
        {0x2060, 0x206f},    // word joiner, invisible operators, direction isolates
        {0xfeff, 0xfeff},    // zero-width no-break space (byte order mark)
        {0xfff9, 0xfffb},    // interlinear annotation
        {0xe0001, 0xe007f},  // tags
    };
    for (const auto& r : ranges)
        if (c >= r.first && c <= r.second) return true;
    return false;
}

}  // namespace

std::size_t visibleAt(const std::string& text, std::size_t at) {
    std::size_t length = printableAt(text, at);
    if (length > 1 && isFormatCharacter(codePointAt(text, at, length))) return 0;
    return length;
}

std::string visibleText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = visibleAt(text, i);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(text[i++]));
            out += code;
        }
    }
    return out;
}

}  // namespace host
