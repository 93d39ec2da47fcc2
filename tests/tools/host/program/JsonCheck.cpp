#include "JsonCheck.h"

#include <cctype>
#include <cstring>

namespace {

class Checker {
public:
    explicit Checker(const std::string& text) : s_(text) {}

    bool document() { return value(0) && (blank(), at_ == s_.size()); }

private:
    bool value(int depth) {
        blank();
        if (at_ >= s_.size() || depth > 64) return false;
        char c = s_[at_];
        if (c == '{') return container(depth, '}', true);
        if (c == '[') return container(depth, ']', false);
        if (c == '"') return string();
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return number();
        for (const char* word : {"true", "false", "null"})
            if (s_.compare(at_, std::strlen(word), word) == 0) return (at_ += std::strlen(word)), true;
        return false;
    }

    bool container(int depth, char close, bool object) {
        ++at_;
        blank();
        if (peek(close)) return ++at_, true;
        for (;;) {
            if (object && (!(blank(), peek('"')) || !string() || !(blank(), peek(':')) || !(++at_)))
                return false;
            if (!value(depth + 1)) return false;
            blank();
            if (peek(close)) return ++at_, true;
            if (!peek(',')) return false;
            ++at_;
        }
    }

    bool string() {
        ++at_;
        while (at_ < s_.size()) {
            unsigned char c = static_cast<unsigned char>(s_[at_]);
            if (c == '"') return ++at_, true;
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++at_ >= s_.size()) return false;
                char e = s_[at_];
                if (e == 'u') {
                    for (int i = 1; i <= 4; ++i)
                        if (at_ + i >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[at_ + i]))) return false;
                    at_ += 5;
                } else if (std::strchr("\"\\/bfnrt", e) != nullptr && e != '\0') {
                    ++at_;
                } else {
                    return false;
                }
            } else if (c < 0x80) {
                ++at_;
            } else {
                std::size_t length = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
                if (length == 0 || at_ + length > s_.size()) return false;
                for (std::size_t i = 1; i < length; ++i)
                    if ((static_cast<unsigned char>(s_[at_ + i]) & 0xc0) != 0x80) return false;
                at_ += length;
            }
        }
        return false;
    }

    bool number() {
        std::size_t start = at_;
        if (peek('-')) ++at_;
        if (peek('0')) ++at_;
        else if (!digits()) return false;
        if (peek('.') && (++at_, !digits())) return false;
        if (peek('e') || peek('E')) {
            ++at_;
            if (peek('+') || peek('-')) ++at_;
            if (!digits()) return false;
        }
        return at_ > start;
    }

    bool digits() {
        std::size_t start = at_;
        while (at_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[at_]))) ++at_;
        return at_ > start;
    }

    bool peek(char c) const { return at_ < s_.size() && s_[at_] == c; }
    void blank() {
        while (at_ < s_.size() && std::strchr(" \t\r\n", s_[at_]) != nullptr && s_[at_] != '\0') ++at_;
    }

    const std::string& s_;
    std::size_t at_ = 0;
};

}  // namespace

bool isJsonValue(const std::string& text) { return Checker(text).document(); }
