#pragma once

#include <cstdint>

namespace sim {

constexpr int kButtonCount = 11;

// The two lines that report one button, as a (low, high) byte pair. A pair
// carrying exactly these bits reports this button and no other.
struct ButtonLines {
    std::uint8_t low;
    std::uint8_t high;
};

// Lines of button n (1..kButtonCount).
ButtonLines buttonLines(int button);

// Set of pressed buttons: bit n stands for button n.
class ButtonSet {
public:
    ButtonSet() = default;

    static ButtonSet fromMask(std::uint16_t mask) { return ButtonSet(static_cast<std::uint16_t>(mask & kAll)); }

    // False for a number outside 1..kButtonCount.
    bool add(int button);
    bool remove(int button);
    bool contains(int button) const;
    void clear() { mask_ = 0; }
    bool empty() const { return mask_ == 0; }
    std::uint16_t mask() const { return mask_; }

    void addAll(ButtonSet other) { mask_ = static_cast<std::uint16_t>(mask_ | other.mask_); }
    void removeAll(ButtonSet other) { mask_ = static_cast<std::uint16_t>(mask_ & ~other.mask_); }

    bool operator==(ButtonSet other) const { return mask_ == other.mask_; }
    bool operator!=(ButtonSet other) const { return mask_ != other.mask_; }

private:
    static constexpr std::uint16_t kAll = 0x0FFE;
    explicit ButtonSet(std::uint16_t mask) : mask_(mask) {}
    std::uint16_t mask_ = 0;
};

}  // namespace sim
