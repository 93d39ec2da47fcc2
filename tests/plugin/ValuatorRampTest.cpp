#include "plugin/ValuatorRamp.h"

#include <gtest/gtest.h>

namespace {

constexpr float kIncrement = 0.05f;
constexpr float kDecrement = 0.1f;

float up(float v) { return rampValuator(v, true, false, kIncrement, kDecrement); }
float down(float v) { return rampValuator(v, false, true, kIncrement, kDecrement); }
float released(float v) { return rampValuator(v, false, false, kIncrement, kDecrement); }

TEST(ValuatorRamp, HeldUpClimbsByTheIncrementAndClampsAtOne) {
    float v = 0.0f;
    for (int call = 1; call <= 19; ++call) {
        v = up(v);
        EXPECT_NEAR(v, call * 0.05f, 1e-6f) << "call " << call;
        EXPECT_LT(v, 1.0f);
    }
    v = up(v);
    EXPECT_EQ(v, 1.0f);
    for (int call = 0; call < 5; ++call) EXPECT_EQ(v = up(v), 1.0f);
}

TEST(ValuatorRamp, ReleasedFallsByTheDecrementAndStopsExactlyAtZero) {
    float v = 1.0f;
    for (int call = 1; call <= 9; ++call) {
        v = released(v);
        EXPECT_NEAR(v, 1.0f - call * 0.1f, 1e-6f) << "call " << call;
    }
    // 0.1 minus a float 0.1 can land a hair below 0: it is cut to 0.
    EXPECT_EQ(v = released(v), 0.0f);
    EXPECT_EQ(released(v), 0.0f);

    v = -0.25f;
    EXPECT_NEAR(v = released(v), -0.15f, 1e-6f);
    EXPECT_NEAR(v = released(v), -0.05f, 1e-6f);
    EXPECT_EQ(released(v), 0.0f);
}

TEST(ValuatorRamp, HeldDownFallsToMinusOneAndClamps) {
    float v = 0.0f;
    for (int call = 1; call <= 19; ++call) v = down(v);
    EXPECT_NEAR(v, -0.95f, 1e-6f);
    EXPECT_EQ(v = down(v), -1.0f);
    EXPECT_EQ(down(v), -1.0f);
}

TEST(ValuatorRamp, RampsAreAsymmetricAcrossZero) {
    // Up from below 0 gains d + i, and then i again once not negative.
    EXPECT_EQ(up(-0.1f), 0.1f);
    // Still below 0 after d + i: no second gain.
    EXPECT_NEAR(up(-0.5f), -0.35f, 1e-6f);
    // Down from above 0 loses d + i and nothing more.
    EXPECT_NEAR(down(0.1f), -0.05f, 1e-6f);
    EXPECT_NEAR(down(0.3f), 0.15f, 1e-6f);
    // From 0 either way moves by exactly i.
    EXPECT_EQ(up(0.0f), kIncrement);
    EXPECT_EQ(down(0.0f), -kIncrement);
}

TEST(ValuatorRamp, BothPressedHoldsTheValue) {
    for (float v : {-1.0f, -0.3f, 0.0f, 0.45f, 1.0f}) {
        EXPECT_EQ(rampValuator(v, true, true, kIncrement, kDecrement), v);
    }
}

TEST(ValuatorRamp, ZeroRatesNeverMove) {
    float v = 0.0f;
    for (int call = 0; call < 10; ++call) v = rampValuator(v, call % 2 == 0, call % 3 == 0, 0.0f, 0.0f);
    EXPECT_EQ(v, 0.0f);
}

TEST(ValuatorRamp, ZeroDecrementKeepsAReleasedValueAndReversesForOnlyTheIncrement) {
    EXPECT_EQ(rampValuator(0.5f, false, false, kIncrement, 0.0f), 0.5f);
    EXPECT_EQ(rampValuator(-0.5f, false, false, kIncrement, 0.0f), -0.5f);
    EXPECT_NEAR(rampValuator(0.5f, false, true, kIncrement, 0.0f), 0.45f, 1e-6f);
    EXPECT_NEAR(rampValuator(-0.5f, true, false, kIncrement, 0.0f), -0.45f, 1e-6f);
}

TEST(ValuatorRamp, WandButtonsDriveTheirOwnValuatorsOnly) {
    std::int32_t buttons[11] = {};
    float values[2] = {0.0f, 0.0f};
    for (int b = 0; b < 7; ++b) buttons[b] = 1;  // buttons 1 to 7 move nothing
    rampWandValuators(values, buttons, kIncrement, kDecrement);
    EXPECT_EQ(values[0], 0.0f);
    EXPECT_EQ(values[1], 0.0f);

    std::int32_t eight[11] = {};
    eight[7] = 1;
    rampWandValuators(values, eight, kIncrement, kDecrement);
    EXPECT_EQ(values[0], 0.0f);
    EXPECT_EQ(values[1], kIncrement);

    std::int32_t nineAndTen[11] = {};
    nineAndTen[8] = 1;
    nineAndTen[9] = 1;
    rampWandValuators(values, nineAndTen, kIncrement, kDecrement);
    EXPECT_EQ(values[0], kIncrement);
    EXPECT_NEAR(values[1], -0.1f, 1e-6f);

    std::int32_t eleven[11] = {};
    eleven[10] = 1;
    values[1] = 0.0f;
    rampWandValuators(values, eleven, kIncrement, kDecrement);
    EXPECT_NEAR(values[0], -0.1f, 1e-6f);
    EXPECT_EQ(values[1], 0.0f);
}

}  // namespace
