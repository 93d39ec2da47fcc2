#include "WandRecord.h"

namespace sim {

Bytes keyRecord(ButtonSet pressed) {
    Bytes record;
    record.reserve(2 + 2 * kButtonCount);
    record.push_back(kKeyHeader);
    for (int button = 1; button <= kButtonCount; ++button) {
        if (!pressed.contains(button)) continue;
        ButtonLines lines = buttonLines(button);
        record.push_back(lines.low);
        record.push_back(lines.high);
    }
    record.push_back(kKeyTerminator);
    return record;
}

bool textRecord(const std::string& text, Bytes& out) {
    out.clear();
    out.push_back(kTextHeader);
    for (unsigned char c : text) {
        if (c == kKeyTerminator || c == kTextTerminator) {
            out.clear();
            return false;
        }
        out.push_back(c);
    }
    out.push_back(kTextTerminator);
    return true;
}

std::string hexText(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace sim
