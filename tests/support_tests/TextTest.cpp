#include "support/Clock.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

TEST(CompareNoCase, OrdersLowerCasedTextsAsUnsignedBytes) {
    EXPECT_EQ(compareNoCase("abc", "ABD"), -1);
    EXPECT_EQ(compareNoCase("b", "A"), 1);
    EXPECT_EQ(compareNoCase("", ""), 0);
    EXPECT_EQ(compareNoCase("SerialPort", "serialport"), 0);
    EXPECT_EQ(compareNoCase("SERIALPORT", "serialport"), 0);
    EXPECT_NE(compareNoCase("serial", "serialport"), 0);
    EXPECT_EQ(compareNoCase("serialport", "serial"), 1);
    EXPECT_EQ(compareNoCase("\xC4", "a"), 1);  // bytes above 127 are not signed
    EXPECT_EQ(compareNoCase(nullptr, ""), 0);
    EXPECT_EQ(compareNoCase("a", nullptr), 1);
}

TEST(LowerCase, ChangesOnlyAsciiLetters) {
    std::string text = "AbZ09-_[@`{\xC4\xE9";
    lowerCase(&text[0]);
    EXPECT_EQ(text, "abz09-_[@`{\xC4\xE9");
    lowerCase(nullptr);
}

TEST(ParseInteger, ReadsTheLeadingNumberInItsBase) {
    EXPECT_EQ(parseInteger("0x1F"), 31);
    EXPECT_EQ(parseInteger("010"), 8);
    EXPECT_EQ(parseInteger("12abc"), 12);
    EXPECT_EQ(parseInteger("abc"), 0);
    EXPECT_EQ(parseInteger(" -5"), -5);
    EXPECT_EQ(parseInteger(""), 0);
    EXPECT_EQ(parseInteger(nullptr), 0);
}

TEST(ParseInteger, ClampsToTheSigned32BitRangeWhateverTheWidthOfLong) {
    EXPECT_EQ(parseInteger("2147483647"), 2147483647);
    EXPECT_EQ(parseInteger("2147483648"), 2147483647);
    EXPECT_EQ(parseInteger("99999999999999999999"), 2147483647);
    EXPECT_EQ(parseInteger("-2147483649"), -2147483647 - 1);
    EXPECT_EQ(parseInteger("0xFFFFFFFF"), 2147483647);
}

TEST(SecondsNow, IsTheWallClockInSeconds) {
    const double before = static_cast<double>(std::time(nullptr));
    const double now = secondsNow();
    EXPECT_GE(now, before - 1.0);
    EXPECT_LE(now, before + 2.0);
}

}  // namespace
