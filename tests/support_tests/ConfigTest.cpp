#include "CaptureStdout.h"
#include "TestOptions.h"
#include "support/CConfigH.h"

#include <gtest/gtest.h>

namespace {

TEST(UnknownOptions, EmptyListIsFineAndSilent) {
    TestOptions options;
    CLogH logger = quietLogger("W");
    CaptureStdout out;
    EXPECT_TRUE(CConfigH::reportUnknownOptions(options.list(), &logger));
    EXPECT_EQ(out.text(), "");
}

TEST(UnknownOptions, EveryUnrecognisedEntryIsNamedInListOrder) {
    TestOptions options;
    options.line(3, "serialport com1").line(7, "Bogus 1 2").line(9, "other");
    options.entry(0).recognised = true;
    CLogH logger = quietLogger("W");
    CaptureStdout out;
    EXPECT_FALSE(CConfigH::reportUnknownOptions(options.list(), &logger));
    EXPECT_EQ(out.text(),
              "W: ERROR: CConfigH: Unknown option \"Bogus\" found at line 7.\n"
              "W: ERROR: CConfigH: Unknown option \"other\" found at line 9.\n");
}

TEST(UnknownOptions, HostCountsBeyondTheTableAndNullNamesAreSafe) {
    TestOptions options;
    options.line(1, "a");
    options.entry(0).name = nullptr;
    options.list()->entryCount = 1000;  // only the 32 entries the list holds are looked at
    for (auto& e : options.list()->entries) e.recognised = true;
    options.entry(0).recognised = false;
    CLogH logger = quietLogger("W");
    CaptureStdout out;
    EXPECT_FALSE(CConfigH::reportUnknownOptions(options.list(), &logger));
    EXPECT_EQ(out.text(), "W: ERROR: CConfigH: Unknown option \"\" found at line 1.\n");
}

TEST(OptionEntryAccess, ArgumentsOutsideTheTableReadAsEmpty) {
    TestOptions options;
    options.line(1, "name x y");
    OptionEntry& e = options.entry(0);
    EXPECT_STREQ(e.arg(1), "x");
    EXPECT_STREQ(e.arg(2), "y");
    EXPECT_STREQ(e.arg(3), "");
    EXPECT_STREQ(e.arg(0), "");
    e.argCount = 500;
    EXPECT_EQ(e.usedArgs(), 64u);
    EXPECT_STREQ(e.arg(64), "");  // null pointer in the host's table
}

}  // namespace
