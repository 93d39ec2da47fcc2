#include "CaptureStdout.h"
#include "TestOptions.h"
#include "platform/ThreadId.h"
#include "support/CLogH.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <regex>
#include <string>

namespace {

TEST(LoggerFormat, DefaultLineHasDateTimeNameThreadTagAndMessage) {
    CLogH logger;
    CaptureStdout out;
    logger.info("hello", true);
    const std::string expected = "MESSAGE\\[" + std::to_string(platform::currentThreadId()) + "\\]: INFO: hello\n";
    EXPECT_TRUE(std::regex_match(out.text(), std::regex("[A-Z][a-z]{2} \\d{2} \\d{2}:\\d{2}:\\d{2} " + expected)))
        << out.text();
}

TEST(LoggerFormat, SwitchesDropTheirPieces) {
    CLogH logger;
    logger.showDate = false;
    logger.showTime = false;
    logger.showThreadId = false;
    CaptureStdout out;
    logger.error("bad", true);
    logger.warning("careful", true);
    EXPECT_EQ(out.text(), "MESSAGE: ERROR: bad\nMESSAGE: WARNING: careful\n");

    out.clear();
    logger.showTime = true;
    logger.info("t", true);
    EXPECT_TRUE(std::regex_match(out.text(), std::regex("\\d{2}:\\d{2}:\\d{2} MESSAGE: INFO: t\n"))) << out.text();
}

TEST(LoggerFormat, OpenLineIsContinuedByCallersWrites) {
    CLogH logger = quietLogger("DEV");
    CaptureStdout out;
    logger.error("CRS232H: Closing port ", false);
    std::cout << "com2: gone" << std::endl;
    logger.info("next", true);
    EXPECT_EQ(out.text(), "DEV: ERROR: CRS232H: Closing port com2: gone\nDEV: INFO: next\n");
}

TEST(LoggerFormat, DisabledLoggerWritesNothingButStillAnswersIsDebugOn) {
    CLogH logger = quietLogger("DEV", 4);
    logger.enabled = false;
    CaptureStdout out;
    logger.info("a", true);
    logger.error("b", true);
    logger.warning("c", true);
    logger.debug("d", true);
    logger.debugFormat("e %d\n", 1);
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(logger.isDebugOn());
}

TEST(LoggerFormat, UnterminatedHostFieldsAreReadOnlyUpToTheirSize) {
    // A host may fill the whole field; the next field must not leak into the line.
    CLogH logger = quietLogger();
    std::memset(logger.name, 'N', sizeof logger.name);
    std::memset(logger.infoTag, 'I', sizeof logger.infoTag);
    CaptureStdout out;
    logger.info("m", true);
    EXPECT_EQ(out.text(), std::string(100, 'N') + ": " + std::string(100, 'I') + ": m\n");
}

TEST(LoggerFormat, SetNameKeepsATerminator) {
    CLogH logger = quietLogger();
    logger.setName(std::string(150, 'x').c_str());
    EXPECT_EQ(std::strlen(logger.name), 99u);
}

struct DebugCase {
    int level;
    int own;
    int threshold;
    bool shown;
};

class LoggerDebugFilter : public ::testing::TestWithParam<DebugCase> {};

TEST_P(LoggerDebugFilter, ShowsExactlyWhenTheLevelsSaySo) {
    const DebugCase c = GetParam();
    CLogH logger = quietLogger("D", c.level);
    logger.ownDebugLevel = c.own;
    logger.debugThreshold = c.threshold;
    CaptureStdout out;
    logger.debug("x", true);
    EXPECT_EQ(out.text(), c.shown ? "D: DEBUG: x\n" : "");
    EXPECT_EQ(logger.isDebugOn(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Levels, LoggerDebugFilter,
                         ::testing::Values(DebugCase{0, 0, 1, false}, DebugCase{0, 0, 0, false},
                                           DebugCase{3, 3, 4, true}, DebugCase{3, 1, 4, false},
                                           DebugCase{4, 1, 4, true}, DebugCase{9, 3, 4, true},
                                           DebugCase{-1, 0, 1, false}, DebugCase{-1, -1, 1, true},
                                           DebugCase{1, 1, 4, true}));

TEST(LoggerDebugFormat, NeverEndsTheLineAndIsBoundedToItsBuffer) {
    CLogH logger = quietLogger("D", 4);
    CaptureStdout out;
    logger.debugFormat("CRS232H: Opening %s.", "com2");
    EXPECT_EQ(out.text(), "D: DEBUG: CRS232H: Opening com2.");

    out.clear();
    const std::string longText(400, 'z');
    logger.debugFormat("%s", longText.c_str());
    EXPECT_EQ(out.text(), "D: DEBUG: " + std::string(255, 'z'));

    out.clear();
    logger.debugLevel = 0;
    logger.debugFormat("hidden %d\n", 3);
    EXPECT_EQ(out.text(), "");
}

TEST(LoggerCopy, CopyKeepsEverySettingByteForByte) {
    CLogH host = quietLogger("HOSTLOG", 2);
    std::strcpy(host.errorTag, "ERR");
    host.debugThreshold = 7;
    CLogH copy(host);
    EXPECT_EQ(std::memcmp(&copy, &host, sizeof host), 0);
}

}  // namespace
