#pragma once

#include <cstddef>
#include <cstdint>

// Tracker record of the shared storage. Every 32-bit field holds network byte
// order; the pose is fixed point × 100000.
struct TraData {
    std::uint32_t number;
    std::uint8_t reserved0[4];
    std::int32_t timeSec;
    std::int32_t timeUsec;
    std::uint8_t reserved1[4];
    std::int32_t x;
    std::int32_t y;
    std::int32_t z;
    std::int32_t azim;
    std::int32_t elev;
    std::int32_t roll;
    std::uint8_t reserved2[12];

    bool setNumber(std::uint32_t n);
    bool setTime(std::int32_t seconds, std::int32_t microseconds);
    bool setX(float value);
    bool setY(float value);
    bool setZ(float value);
    bool setAzim(float value);
    bool setElev(float value);
    bool setRoll(float value);
    float getX() const;
    float getY() const;
    float getZ() const;
    float getAzim() const;
    float getElev() const;
    float getRoll() const;
};

// True when the six pose values are equal; number and time are not compared.
bool sameTraData(const TraData& first, const TraData& second);

static_assert(sizeof(TraData) == 56, "TraData is shared with the host");
static_assert(offsetof(TraData, number) == 0 && offsetof(TraData, timeSec) == 8 &&
                  offsetof(TraData, timeUsec) == 12 && offsetof(TraData, x) == 20 && offsetof(TraData, y) == 24 &&
                  offsetof(TraData, z) == 28 && offsetof(TraData, azim) == 32 && offsetof(TraData, elev) == 36 &&
                  offsetof(TraData, roll) == 40 && offsetof(TraData, reserved2) == 44,
              "TraData fields");
