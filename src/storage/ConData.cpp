#include "storage/ConData.h"

#include "platform/WallClock.h"
#include "storage/ByteOrder.h"
#include "storage/EntryNumber.h"
#include "storage/FixedPoint.h"

#include <cstring>

void ConData::reset() {
    std::memset(valuators, 0, sizeof valuators);
    buttonBytes = 4;
    std::memset(buttons, 0, sizeof buttons);
    std::memset(this, 0, offsetof(ConData, valuatorOffset));
}

bool ConData::stamp() {
    const platform::ClockReading now = platform::readClock();
    clockScratch.seconds = static_cast<std::int32_t>(now.seconds);
    clockScratch.milliseconds = now.milliseconds;
    clockScratch.minutesWest = now.minutesWest;
    clockScratch.daylight = now.daylight;
    timeSec = hostToNetSigned(clockScratch.seconds);
    timeUsec = hostToNetSigned(static_cast<std::int32_t>(now.milliseconds) * 1000);
    return true;
}

float ConData::getValuator(std::uint32_t n) const {
    // A count above the table cannot widen it.
    if (n < 1 || n > netToHost(valuatorCount) || n > kMaxValuators) return 0.0f;
    return decodeFixed(netToHostSigned(valuators[n - 1]), kValuatorStep);
}

bool ConData::storeValuator(std::uint32_t n, float value) {
    if (n < 1 || n > netToHost(valuatorCount) || n > kMaxValuators) return false;
    valuators[n - 1] = hostToNetSigned(encodeFixed(value, kValuatorScale));
    return true;
}

bool ConData::holdsButton(std::uint32_t n) const {
    return n >= 1 && n <= kMaxButtons && (n - 1) / 8 < buttonBytes && n <= netToHost(buttonCount);
}

int ConData::getButton(std::uint32_t n) const {
    if (!holdsButton(n)) return 0;
    return (buttons[(n - 1) / 8] >> ((n - 1) % 8)) & 1;
}

bool ConData::setButton(std::uint32_t n, std::int32_t value) {
    if (!holdsButton(n)) return false;
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << ((n - 1) % 8));
    if (value > 0) {
        buttons[(n - 1) / 8] |= bit;
    } else {
        buttons[(n - 1) / 8] &= static_cast<std::uint8_t>(~bit);
    }
    return true;
}

bool sameConData(const ConData& first, const ConData& second) {
    if (first.valuatorCount != second.valuatorCount) return false;
    if (first.buttonCount != second.buttonCount) return false;
    bool same = true;
    const std::uint32_t valuatorCount = netToHost(first.valuatorCount);
    for (std::uint32_t n = 1; n <= valuatorCount && n <= ConData::kMaxValuators; ++n) {
        if (first.getValuator(n) != second.getValuator(n)) same = false;
    }
    // The button field has four bytes whatever a record claims.
    for (std::uint32_t j = 1; j <= first.buttonBytes && j <= sizeof first.buttons; ++j) {
        const std::uint8_t a = first.buttons[j - 1];
        const std::uint8_t b = j <= second.buttonBytes ? second.buttons[j - 1] : 0;
        if (a != b) return false;
    }
    return same;
}

bool markChanged(std::uint8_t* mask, std::uint32_t n) {
    if (mask == nullptr || !isMaskEntry(n)) return false;
    mask[3 - (n - 1) / 8] |= static_cast<std::uint8_t>(1u << ((n - 1) % 8));
    return true;
}
