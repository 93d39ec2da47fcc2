#include "ButtonTable.h"
#include "WandRecord.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace {

// The wand's button table, written out independently of the encoder: button n
// is reported by a pair when all bits of its mask are set in W = H * 256 + L.
constexpr std::uint16_t kButtonMasks[11] = {0x1001, 0x0011, 0x0003, 0x0408, 0x000C, 0x0C00,
                                            0x0804, 0x0009, 0x0801, 0x0006, 0x0402};

// Decodes a key record the way a receiver does: every pair may report
// buttons, a trailing odd byte is ignored.
std::set<int> decode(const sim::Bytes& record) {
    std::set<int> pressed;
    const std::size_t bodyLength = record.size() - 2;
    for (std::size_t pos = 0; pos + 1 < bodyLength; pos += 2) {
        std::uint16_t w = static_cast<std::uint16_t>(record[2 + pos] * 256 + record[1 + pos]);
        for (int b = 1; b <= 11; ++b)
            if ((w & kButtonMasks[b - 1]) == kButtonMasks[b - 1]) pressed.insert(b);
    }
    return pressed;
}

TEST(SimKeyRecord, EveryButtonCombinationDecodesToExactlyThatCombination) {
    for (std::uint16_t combo = 0; combo < (1u << 11); ++combo) {
        sim::ButtonSet set;
        std::set<int> expected;
        for (int b = 1; b <= 11; ++b)
            if (combo & (1u << (b - 1))) {
                set.add(b);
                expected.insert(b);
            }
        sim::Bytes record = sim::keyRecord(set);
        ASSERT_EQ(record.front(), 0x80);
        ASSERT_EQ(record.back(), 0x8F);
        ASSERT_EQ(record.size(), 2 + 2 * expected.size());
        for (std::size_t i = 1; i + 1 < record.size(); ++i) {
            // A body byte that looks like a header or terminator would cut the record.
            ASSERT_LT(record[i], 0x80) << "combination " << combo;
        }
        ASSERT_EQ(decode(record), expected) << "combination " << combo;
    }
}

TEST(SimKeyRecord, SingleButtonsUseTheirOwnTwoLines) {
    EXPECT_EQ(sim::keyRecord(sim::ButtonSet()), (sim::Bytes{0x80, 0x8F}));
    sim::ButtonSet one;
    one.add(1);
    EXPECT_EQ(sim::keyRecord(one), (sim::Bytes{0x80, 0x01, 0x10, 0x8F}));
    for (int b = 1; b <= 11; ++b) {
        sim::ButtonLines lines = sim::buttonLines(b);
        std::uint16_t w = static_cast<std::uint16_t>(lines.high * 256 + lines.low);
        EXPECT_EQ(w, kButtonMasks[b - 1]) << "button " << b << " sets more than its two lines";
    }
}

TEST(SimButtonSet, RefusesNumbersOutsideTheWand) {
    sim::ButtonSet set;
    EXPECT_FALSE(set.add(0));
    EXPECT_FALSE(set.add(12));
    EXPECT_FALSE(set.add(-1));
    EXPECT_TRUE(set.empty());
    EXPECT_TRUE(set.add(11));
    EXPECT_TRUE(set.contains(11));
    EXPECT_FALSE(set.contains(12));
    EXPECT_TRUE(set.remove(11));
    EXPECT_TRUE(set.empty());
    EXPECT_TRUE(sim::ButtonSet::fromMask(0xFFFF) == sim::ButtonSet::fromMask(0x0FFE));
}

TEST(SimTextRecord, FramesTextAndRefusesTerminatorsInside) {
    sim::Bytes record;
    ASSERT_TRUE(sim::textRecord("OK", record));
    EXPECT_EQ(record, (sim::Bytes{0x82, 'O', 'K', 0xFC}));
    EXPECT_FALSE(sim::textRecord(std::string("a\x8F"), record));
    EXPECT_TRUE(record.empty());
    EXPECT_FALSE(sim::textRecord(std::string("\xFC"), record));
    EXPECT_EQ(sim::hexText({0x80, 0x01, 0x10, 0x8F}), "80 01 10 8F");
}

}  // namespace
