#include "ButtonTable.h"

namespace sim {

namespace {

// Button n uses entry n - 1. Each pair sets only the two lines of its button,
// so no combination of the other lines can report a button that is not held.
constexpr ButtonLines kLines[kButtonCount] = {
    {0x01, 0x10},  // 1: H bit 4, L bit 0
    {0x11, 0x00},  // 2: L bit 4, L bit 0
    {0x03, 0x00},  // 3: L bit 1, L bit 0
    {0x08, 0x04},  // 4: H bit 2, L bit 3
    {0x0C, 0x00},  // 5: L bit 3, L bit 2
    {0x00, 0x0C},  // 6: H bit 3, H bit 2
    {0x04, 0x08},  // 7: H bit 3, L bit 2
    {0x09, 0x00},  // 8: L bit 3, L bit 0
    {0x01, 0x08},  // 9: H bit 3, L bit 0
    {0x06, 0x00},  // 10: L bit 2, L bit 1
    {0x02, 0x04},  // 11: H bit 2, L bit 1
};

bool valid(int button) { return button >= 1 && button <= kButtonCount; }

}  // namespace

ButtonLines buttonLines(int button) { return valid(button) ? kLines[button - 1] : ButtonLines{0, 0}; }

bool ButtonSet::add(int button) {
    if (!valid(button)) return false;
    mask_ = static_cast<std::uint16_t>(mask_ | (1u << button));
    return true;
}

bool ButtonSet::remove(int button) {
    if (!valid(button)) return false;
    mask_ = static_cast<std::uint16_t>(mask_ & ~(1u << button));
    return true;
}

bool ButtonSet::contains(int button) const { return valid(button) && (mask_ & (1u << button)) != 0; }

}  // namespace sim
