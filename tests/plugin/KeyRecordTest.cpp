#include "CaptureStdout.h"
#include "TestOptions.h"
#include "plugin/KeyRecord.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using Body = std::vector<std::uint8_t>;

std::set<int> pressed(const Body& body) {
    std::int32_t buttons[wand::kButtons] = {};
    wand::pressReportedButtons(body.data(), body.size(), buttons);
    std::set<int> result;
    for (int b = 0; b < wand::kButtons; ++b) {
        if (buttons[b] == 1) result.insert(b + 1);
        else EXPECT_EQ(buttons[b], 0);
    }
    return result;
}

TEST(KeyRecordDecode, EachButtonNeedsBothOfItsLines) {
    struct Case {
        int button;
        std::uint8_t low, high;
    };
    const Case cases[] = {
        {1, 0x01, 0x10}, {2, 0x11, 0x00}, {3, 0x03, 0x00}, {4, 0x08, 0x04}, {5, 0x0C, 0x00}, {6, 0x00, 0x0C},
        {7, 0x04, 0x08}, {8, 0x09, 0x00}, {9, 0x01, 0x08}, {10, 0x06, 0x00}, {11, 0x02, 0x04},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pressed({c.low, c.high}), std::set<int>{c.button}) << "button " << c.button;
    }
    // One line alone is no press.
    EXPECT_TRUE(pressed({0x01, 0x00}).empty());
    EXPECT_TRUE(pressed({0x00, 0x10}).empty());
    EXPECT_TRUE(pressed({0x10, 0x01}).empty());  // the lines of button 1 in the wrong bytes
}

TEST(KeyRecordDecode, PairsAddUpAndAnOddTrailingByteIsIgnored) {
    EXPECT_EQ(pressed({0x13, 0x00}), (std::set<int>{2, 3}));
    EXPECT_EQ(pressed({0x01, 0x10, 0x00, 0x0C}), (std::set<int>{1, 6}));
    EXPECT_EQ(pressed({0x01, 0x10, 0x13}), std::set<int>{1});
    EXPECT_TRUE(pressed({0x13}).empty());
    EXPECT_TRUE(pressed({}).empty());
}

TEST(KeyRecordDecode, ButtonsAreOnlyEverSet) {
    std::int32_t buttons[wand::kButtons] = {};
    buttons[4] = 1;
    const std::uint8_t body[] = {0x01, 0x10};
    wand::pressReportedButtons(body, sizeof body, buttons);
    EXPECT_EQ(buttons[0], 1);
    EXPECT_EQ(buttons[4], 1);
}

TEST(KeyRecordDecode, TrimmedRecordsLoseTwoBytesWithoutWrapping) {
    EXPECT_EQ(wand::keyDataLength(wand::kKeyHeader, 5), 5u);
    EXPECT_EQ(wand::keyDataLength(wand::kTrimmedKeyHeader, 4), 2u);
    EXPECT_EQ(wand::keyDataLength(wand::kTrimmedKeyHeader, 2), 0u);
    EXPECT_EQ(wand::keyDataLength(wand::kTrimmedKeyHeader, 1), 0u);
    EXPECT_EQ(wand::keyDataLength(wand::kTrimmedKeyHeader, 0), 0u);
}

class KeyRecordDebug : public ::testing::Test {
protected:
    KeyRecordDebug() : logger(quietLogger("W", 1)) { logger.setOwnDebugLevel(1); }
    CLogH logger;
    CaptureStdout out;
};

TEST_F(KeyRecordDebug, DumpShowsHighThenLowByteWithTheirBits) {
    const std::uint8_t body[] = {0x01, 0x10, 0xA5, 0xFF, 0x7E};
    wand::dumpKeyData(logger, body, sizeof body);
    EXPECT_EQ(out.text(),
              "W: DEBUG: CQuorlix: 0x10 0x01  _ _ _ 1 _ _ _ _    _ _ _ _ _ _ _ 1\n"
              "W: DEBUG: CQuorlix: 0xff 0xa5  1 1 1 1 1 1 1 1    1 _ 1 _ _ 1 _ 1\n");
}

TEST_F(KeyRecordDebug, EmptyKeyDataDumpsOneLineOfDashes) {
    wand::dumpKeyData(logger, nullptr, 0);
    EXPECT_EQ(out.text(), "W: DEBUG: CQuorlix: 0x00 0x00  - - - - - - - -    - - - - - - - -\n");
    out.clear();
    const std::uint8_t single[] = {0x13};
    wand::dumpKeyData(logger, single, 1);
    EXPECT_EQ(out.text(), "");
}

TEST_F(KeyRecordDebug, TextRecordStopsAtItsZeroByteOrItsStoredLength) {
    const std::uint8_t ok[] = {'O', 'K'};
    wand::showTextRecord(logger, ok, sizeof ok);
    EXPECT_EQ(out.text(), "W: DEBUG: CQuorlix: text/ACK record: OK\n");
    out.clear();
    const std::uint8_t zero[] = {'A', 0, 'B'};
    wand::showTextRecord(logger, zero, sizeof zero);
    EXPECT_EQ(out.text(), "W: DEBUG: CQuorlix: text/ACK record: A\n");
    out.clear();
    // A full buffer has no terminator; a heap block of exactly that size lets
    // the sanitizer catch any read past it.
    std::vector<std::uint8_t> full(wand::kBodyCapacity, 'x');
    wand::showTextRecord(logger, full.data(), full.size());
    EXPECT_EQ(out.text(), "W: DEBUG: CQuorlix: text/ACK record: " + std::string(wand::kBodyCapacity, 'x') + "\n");
}

}  // namespace
