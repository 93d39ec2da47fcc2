#pragma once

#include <cstddef>
#include <cstdint>

// Controller record of the shared storage. 32-bit fields hold network byte
// order except `buttonBytes` and `clockScratch`, which are in host order.
struct ConData {
    static constexpr std::uint32_t kMaxValuators = 32;
    static constexpr std::uint32_t kMaxButtons = 32;
    static constexpr std::uint32_t kValuatorOffset = 36;

    struct ClockScratch {
        std::int32_t seconds;
        std::uint16_t milliseconds;
        std::int16_t minutesWest;
        std::int16_t daylight;
        std::uint8_t alignment[2];
    };

    std::uint32_t number;
    std::uint8_t reserved0[4];
    std::int32_t timeSec;
    std::int32_t timeUsec;
    std::uint8_t reserved1[4];
    std::uint32_t valuatorCount;
    std::uint32_t buttonCount;
    std::uint32_t valuatorOffset;
    std::uint32_t buttonOffset;
    std::int32_t valuators[kMaxValuators];
    std::uint8_t buttons[4];
    std::uint32_t buttonBytes;
    ClockScratch clockScratch;

    void reset();
    bool stamp();
    float getValuator(std::uint32_t n) const;
    int getButton(std::uint32_t n) const;
    bool setButton(std::uint32_t n, std::int32_t value);
    // The writer's store of valuator n (1..valuatorCount) by the fixed-point rule.
    bool storeValuator(std::uint32_t n, float value);

private:
    bool holdsButton(std::uint32_t n) const;
};

// True when counts, valuators and button bytes are equal.
bool sameConData(const ConData& first, const ConData& second);

// Flags storage entry n (1..32) in a 4-byte change mask held in network order.
bool markChanged(std::uint8_t* mask, std::uint32_t n);

static_assert(sizeof(ConData) == 184, "ConData is shared with the host");
static_assert(offsetof(ConData, number) == 0 && offsetof(ConData, timeSec) == 8 &&
                  offsetof(ConData, timeUsec) == 12 && offsetof(ConData, valuatorCount) == 20 &&
                  offsetof(ConData, buttonCount) == 24 && offsetof(ConData, valuatorOffset) == 28 &&
                  offsetof(ConData, buttonOffset) == 32 && offsetof(ConData, valuators) == 36 &&
                  offsetof(ConData, buttons) == 164 && offsetof(ConData, buttonBytes) == 168 &&
                  offsetof(ConData, clockScratch) == 172,
              "ConData fields");
