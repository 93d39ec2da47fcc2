#include "storage/ByteOrder.h"
#include "storage/ConData.h"
#include "storage/FixedPoint.h"
#include "storage/TraData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

std::uint32_t rawBigEndian(const void* field) {
    const unsigned char* b = static_cast<const unsigned char*>(field);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

ConData wandRecord() {
    ConData r;
    std::memset(&r, 0x5A, sizeof r);
    r.reset();
    r.valuatorCount = hostToNet(2);
    r.buttonCount = hostToNet(11);
    return r;
}

TEST(TraDataFixedPoint, StoresBigEndianTruncatedTowardZero) {
    TraData t{};
    t.setX(1.5f);
    const unsigned char expected[4] = {0x00, 0x02, 0x49, 0xF0};
    EXPECT_EQ(std::memcmp(&t.x, expected, 4), 0);
    EXPECT_EQ(t.getX(), 1.5f);

    t.setY(-0.000019f);
    EXPECT_EQ(static_cast<std::int32_t>(rawBigEndian(&t.y)), -1);
    t.setRoll(0.999999f);
    EXPECT_EQ(rawBigEndian(&t.roll), 99999u);
}

TEST(TraDataFixedPoint, OutOfRangeSaturatesAndNanStoresZero) {
    TraData t{};
    t.setX(1e9f);
    EXPECT_EQ(static_cast<std::int32_t>(rawBigEndian(&t.x)), std::numeric_limits<std::int32_t>::max());
    t.setY(-std::numeric_limits<float>::infinity());
    EXPECT_EQ(static_cast<std::int32_t>(rawBigEndian(&t.y)), std::numeric_limits<std::int32_t>::min());
    t.setZ(std::nanf(""));
    EXPECT_EQ(rawBigEndian(&t.z), 0u);
    EXPECT_EQ(encodeFixed(21474.83647f * 2, kPoseScale), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(encodeFixed(-2147483.648f, kValuatorScale), std::numeric_limits<std::int32_t>::min());
}

TEST(TraDataFields, NumberAndTime) {
    TraData t{};
    EXPECT_FALSE(t.setNumber(0));
    EXPECT_FALSE(t.setNumber(33));
    EXPECT_EQ(t.number, 0u);
    EXPECT_TRUE(t.setNumber(32));
    EXPECT_EQ(rawBigEndian(&t.number), 32u);
    EXPECT_TRUE(t.setTime(1700000000, 250000));
    EXPECT_EQ(rawBigEndian(&t.timeSec), 1700000000u);
    EXPECT_EQ(rawBigEndian(&t.timeUsec), 250000u);
}

TEST(TraDataCompare, OnlyThePoseCounts) {
    TraData a{};
    TraData b{};
    a.setNumber(3);
    a.setTime(5, 6);
    EXPECT_TRUE(sameTraData(a, b));
    b.setElev(0.00002f);
    EXPECT_FALSE(sameTraData(a, b));
}

TEST(ConDataReset, ClearsHeaderValuatorsAndButtonsButKeepsOffsetsAndScratch) {
    ConData r;
    std::memset(&r, 0x77, sizeof r);
    r.reset();
    EXPECT_EQ(r.number, 0u);
    EXPECT_EQ(r.timeSec, 0);
    EXPECT_EQ(r.valuatorCount, 0u);
    EXPECT_EQ(r.buttonCount, 0u);
    EXPECT_EQ(r.buttonBytes, 4u);
    for (auto v : r.valuators) EXPECT_EQ(v, 0);
    for (auto b : r.buttons) EXPECT_EQ(b, 0);
    EXPECT_EQ(r.valuatorOffset, 0x77777777u);
    EXPECT_EQ(r.buttonOffset, 0x77777777u);
    EXPECT_EQ(r.clockScratch.seconds, 0x77777777);
}

TEST(ConDataStamp, TakesTheWallClockIntoTimeAndScratch) {
    ConData r = wandRecord();
    const std::time_t before = std::time(nullptr);
    EXPECT_TRUE(r.stamp());
    const std::int32_t sec = static_cast<std::int32_t>(rawBigEndian(&r.timeSec));
    EXPECT_GE(sec, before);
    EXPECT_LE(sec, before + 2);
    EXPECT_EQ(sec, r.clockScratch.seconds);
    EXPECT_EQ(rawBigEndian(&r.timeUsec), r.clockScratch.milliseconds * 1000u);
    EXPECT_LT(r.clockScratch.milliseconds, 1000);
    EXPECT_TRUE(r.clockScratch.daylight == 0 || r.clockScratch.daylight == 1);
}

TEST(ConDataValuators, FixedPointInThousandthsWithinTheCount) {
    ConData r = wandRecord();
    EXPECT_TRUE(r.storeValuator(1, 0.25f));
    EXPECT_EQ(rawBigEndian(&r.valuators[0]), 250u);
    EXPECT_EQ(r.getValuator(1), 0.25f);
    EXPECT_TRUE(r.storeValuator(2, 0.9996f));
    EXPECT_EQ(rawBigEndian(&r.valuators[1]), 999u);
    EXPECT_TRUE(r.storeValuator(2, -0.0019f));
    EXPECT_EQ(static_cast<std::int32_t>(rawBigEndian(&r.valuators[1])), -1);
    EXPECT_FALSE(r.storeValuator(3, 1.0f));
    EXPECT_FALSE(r.storeValuator(0, 1.0f));
    EXPECT_EQ(r.getValuator(0), 0.0f);
    EXPECT_EQ(r.getValuator(3), 0.0f);
}

TEST(ConDataValuators, CountsBeyondTheTableNeverReachOutsideIt) {
    ConData r = wandRecord();
    r.valuatorCount = hostToNet(0xFFFFFFFFu);
    EXPECT_EQ(r.getValuator(33), 0.0f);
    EXPECT_FALSE(r.storeValuator(1000, 1.0f));
    ConData other = r;
    EXPECT_TRUE(sameConData(r, other));
    r.buttonBytes = 1000;
    other.buttonBytes = 1000;
    EXPECT_TRUE(sameConData(r, other));
}

TEST(ConDataButtons, BitsWithinCountAndBytes) {
    ConData r = wandRecord();
    EXPECT_TRUE(r.setButton(11, 1));
    EXPECT_EQ(r.buttons[1], 0x04);
    EXPECT_EQ(r.getButton(11), 1);
    EXPECT_FALSE(r.setButton(12, 1));
    EXPECT_FALSE(r.setButton(0, 1));
    EXPECT_EQ(r.getButton(12), 0);
    EXPECT_TRUE(r.setButton(11, 0));
    EXPECT_EQ(r.buttons[1], 0);
    r.setButton(8, 5);
    EXPECT_EQ(r.buttons[0], 0x80);
    EXPECT_EQ(r.getButton(8), 1);
    r.setButton(8, -1);
    EXPECT_EQ(r.getButton(8), 0);
    r.buttonBytes = 1;
    EXPECT_FALSE(r.setButton(9, 1));
}

TEST(ConDataCompare, CountsValuatorsAndAllButtonBitsButNotNumberOrTime) {
    ConData a = wandRecord();
    ConData b = wandRecord();
    a.number = hostToNet(4);
    a.stamp();
    a.valuatorOffset = 1;
    EXPECT_TRUE(sameConData(a, b));

    b.valuatorCount = hostToNet(3);
    EXPECT_FALSE(sameConData(a, b));
    b = wandRecord();
    b.buttons[3] = 0x80;  // above buttonCount, still compared
    EXPECT_FALSE(sameConData(a, b));
    b = wandRecord();
    b.storeValuator(2, 0.001f);
    EXPECT_FALSE(sameConData(a, b));
}

TEST(ChangeMask, EntryNumbersMapToNetworkOrderBits) {
    std::uint8_t mask[4] = {};
    EXPECT_TRUE(markChanged(mask, 1));
    EXPECT_EQ(mask[3], 0x01);
    EXPECT_TRUE(markChanged(mask, 32));
    EXPECT_EQ(mask[0], 0x80);
    EXPECT_TRUE(markChanged(mask, 9));
    EXPECT_EQ(mask[2], 0x01);
    EXPECT_EQ(mask[3], 0x01);
    EXPECT_FALSE(markChanged(mask, 0));
    EXPECT_FALSE(markChanged(mask, 33));
    std::uint32_t word;
    std::memcpy(&word, mask, 4);
    EXPECT_EQ(netToHost(word), 0x80000101u);
}

}  // namespace
