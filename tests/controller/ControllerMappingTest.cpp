#include "ControllerSetup.h"
#include "storage/ByteOrder.h"
#include "storage/ConData.h"
#include "storage/TraData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

std::int32_t raw(const std::int32_t& field) { return netToHostSigned(field); }

ConData workRecord(std::uint32_t valuators, std::uint32_t buttons) {
    ConData r;
    std::memset(&r, 0, sizeof r);
    r.reset();
    r.valuatorCount = hostToNet(valuators);
    r.buttonCount = hostToNet(buttons);
    return r;
}

double fakeNow = 0.0;
double fakeClock() { return fakeNow; }

}  // namespace

TEST(ControllerScale, PolynomialOfTheSelectedValuator) {
    WandControllers w;
    ASSERT_TRUE(w.parse({"valuatorscale 1 [1,0,0,0] 1", "valuatorscale 1 [0,0,2,0.5] 2"}));
    EXPECT_EQ(w.common.scaleValuator(1, 1, 0.5f), 0.125);
    EXPECT_EQ(w.common.scaleValuator(1, 2, 1.0f), 2.5);
    EXPECT_EQ(w.common.scaleValuator(1, 3, -0.75f), -0.75);  // identity
    EXPECT_EQ(w.common.scaleValuator(1, 33, 1.0f), 0.0);
    EXPECT_EQ(w.common.scaleValuator(2, 1, 1.0f), 0.0);
}

TEST(ControllerMapping, ValuatorsGoThroughOrderAndScaleAsTruncatedThousandths) {
    WandControllers w;
    ASSERT_TRUE(w.parse({"valuatororder 1 2 1"}));
    ConData r = workRecord(3, 11);
    const float x[2] = {0.9996f, -0.0019f};
    ASSERT_TRUE(w.common.mapController(1, x, 2, nullptr, 0, r));
    const unsigned char out1[4] = {0xFF, 0xFF, 0xFF, 0xFF};  // -1: toward zero
    const unsigned char out2[4] = {0x00, 0x00, 0x03, 0xE7};  // 999
    EXPECT_EQ(std::memcmp(&r.valuators[0], out1, 4), 0);
    EXPECT_EQ(std::memcmp(&r.valuators[1], out2, 4), 0);

    // Real valuator 1 now goes to output 3, beyond a two-valuator record;
    // real valuator 2 is dropped. Outputs nobody writes keep their values.
    ASSERT_TRUE(w.parse({"valuatororder 1 0 0 1"}));
    r = workRecord(2, 11);
    r.storeValuator(1, 0.5f);
    r.storeValuator(2, 0.25f);
    ASSERT_TRUE(w.common.mapController(1, x, 2, nullptr, 0, r));
    EXPECT_EQ(raw(r.valuators[0]), 500);
    EXPECT_EQ(raw(r.valuators[1]), 250);
    EXPECT_EQ(raw(r.valuators[2]), 0);
}

TEST(ControllerMapping, ButtonsAndTheRecordNumber) {
    WandControllers w;
    ASSERT_TRUE(w.parse({"buttonorder 1 0 3"}));
    ConData r = workRecord(2, 11);
    r.buttons[0] = 0x01;
    const std::int32_t b[3] = {1, 1, 1};
    w.common.outputOffset = 4;
    ASSERT_TRUE(w.common.mapController(1, nullptr, 0, b, 3, r));
    EXPECT_EQ(r.buttons[0], 0x03);  // real 3 -> output 2; reals 1 and 2 dropped
    const std::int32_t released[3] = {0, 0, -1};
    ASSERT_TRUE(w.common.mapController(1, nullptr, 0, released, 3, r));
    EXPECT_EQ(r.buttons[0], 0x01);
    EXPECT_EQ(netToHost(r.number), 5u);

    w.common.outputOffset = 32;  // 33 is no storage entry: the number stays
    ASSERT_TRUE(w.common.mapController(1, nullptr, 0, b, 3, r));
    EXPECT_EQ(netToHost(r.number), 5u);
    EXPECT_FALSE(w.common.mapController(2, nullptr, 0, b, 3, r));
}

TEST(ControllerMapping, InfiniteAndHugeScalesSaturateAndShortInputsAreNotRead) {
    WandControllers w;
    ASSERT_TRUE(w.parse({"valuatorscale 1 -inf 1", "valuatorscale 1 1e300 2"}));
    ConData r = workRecord(2, 11);
    const float x[2] = {0.5f, 0.5f};
    ASSERT_TRUE(w.common.mapController(1, x, 2, nullptr, 0, r));
    EXPECT_EQ(raw(r.valuators[0]), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(raw(r.valuators[1]), std::numeric_limits<std::int32_t>::max());
    const float still[1] = {0.0f};  // 0 times infinity: stored as 0
    ASSERT_TRUE(w.common.mapController(1, still, 1, nullptr, 0, r));
    EXPECT_EQ(raw(r.valuators[0]), 0);
    EXPECT_EQ(raw(r.valuators[1]), std::numeric_limits<std::int32_t>::max());
}

class TrackerEmulationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(w.parse({"emulatetracker 1 [1,2,3,4,5,6] 1 0 0 0 0 2 11"}));
        ASSERT_EQ(w.common.assignTrackerNumbers(3), 1);
        w.common.clockSource = &fakeClock;
        fakeNow = 100.0;
        r.timeSec = hostToNetSigned(1700000000);
        r.timeUsec = hostToNetSigned(250000);
        r.storeValuator(1, 1.0f);
        r.storeValuator(2, -0.5f);
    }

    WandControllers w;
    ConData r = workRecord(2, 11);
    TraData t{};
};

TEST_F(TrackerEmulationTest, FirstCallLoadsTheStartThenValuatorsActAsVelocities) {
    ASSERT_TRUE(w.common.emulateTracker(1, &t, &r));
    EXPECT_EQ(netToHost(t.number), 3u);
    EXPECT_EQ(raw(t.timeSec), 1700000000);
    EXPECT_EQ(raw(t.timeUsec), 250000);
    EXPECT_EQ(t.getX(), 1.0f);
    EXPECT_EQ(t.getRoll(), 6.0f);

    fakeNow = 100.25;
    ASSERT_TRUE(w.common.emulateTracker(1, &t, &r));
    EXPECT_EQ(w.common.getElapsedTime(), 0.25);
    EXPECT_EQ(t.getX(), 1.25f);
    EXPECT_EQ(t.getY(), 2.0f);
    EXPECT_EQ(t.getRoll(), 5.875f);

    // Held reset: back to the start whatever the valuators say; the clock waits.
    r.setButton(11, 1);
    fakeNow = 100.75;
    ASSERT_TRUE(w.common.emulateTracker(1, &t, &r));
    EXPECT_EQ(t.getX(), 1.0f);
    r.setButton(11, 0);
    fakeNow = 101.25;
    ASSERT_TRUE(w.common.emulateTracker(1, &t, &r));
    EXPECT_EQ(t.getX(), 2.0f);  // the whole second since the last step
}

TEST_F(TrackerEmulationTest, LongIntegrationSaturatesAndABrokenClockMovesNothing) {
    r.storeValuator(1, 2000000.0f);
    r.storeValuator(2, -2000000.0f);
    ASSERT_TRUE(w.common.emulateTracker(1, &t, &r));
    for (int step = 1; step <= 3; ++step) {
        fakeNow += 1e6;
        ASSERT_TRUE(w.common.emulateTracker(1, &t, &r));
        EXPECT_EQ(raw(t.x), std::numeric_limits<std::int32_t>::max());
        EXPECT_EQ(raw(t.roll), std::numeric_limits<std::int32_t>::min());
    }
    fakeNow = 1e300;  // the increment overflows single precision
    ASSERT_TRUE(w.common.emulateTracker(1, &t, &r));
    EXPECT_EQ(raw(t.x), std::numeric_limits<std::int32_t>::max());

    r.storeValuator(1, 0.0f);
    ASSERT_TRUE(w.common.resetEmulatedTracker(1, &t, nullptr));
    fakeNow = INFINITY;
    ASSERT_TRUE(w.common.emulateTracker(1, &t, &r));
    EXPECT_EQ(t.getX(), 1.0f);
    EXPECT_EQ(t.getZ(), 3.0f);
}

TEST_F(TrackerEmulationTest, RefusesWhatItCannotEmulate) {
    EXPECT_FALSE(w.common.emulateTracker(1, nullptr, &r));
    EXPECT_FALSE(w.common.emulateTracker(1, &t, nullptr));
    EXPECT_FALSE(w.common.emulateTracker(2, &t, &r));
    EXPECT_FALSE(w.common.resetEmulatedTracker(1, nullptr, &r));
    WandControllers plain;
    EXPECT_FALSE(plain.common.emulateTracker(1, &t, &r));
    EXPECT_FALSE(plain.common.resetEmulatedTracker(1, &t, &r));

    // Without a record the time stamp stays as it was.
    t.setTime(5, 6);
    ASSERT_TRUE(w.common.resetEmulatedTracker(1, &t, nullptr));
    EXPECT_EQ(raw(t.timeSec), 5);
    EXPECT_EQ(t.getElev(), 5.0f);
}
