#include "ControllerSetup.h"
#include "controller/BracketList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>

namespace {

struct Refused {
    const char* line;
    const char* message;  // after "HOST: ERROR: ", ended by " at line 7."
};

// Each line must be reported with exactly its first fault and change nothing.
void expectRefused(const Refused* cases, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(cases[i].line);
        WandControllers w;
        w.common.inputConnector = false;
        w.common.outputControllerCount = 1;
        ControllerEntry before = w.entry();
        EXPECT_FALSE(w.parse({cases[i].line}));
        EXPECT_EQ(w.output, std::string("HOST: ERROR: ") + cases[i].message + "\n");
        EXPECT_FALSE(w.options.entry(0).recognised);
        EXPECT_EQ(std::memcmp(&before, &w.entry(), offsetof(ControllerEntry, trackerEmulation)), 0);
        EXPECT_EQ(w.entry().trackerEmulation, nullptr);
    }
}

}  // namespace

TEST(ControllerOptionsRefused, EachFaultHasItsOwnMessage) {
    const Refused cases[] = {
        {"emulatetracker", "Incomplete option line found for EmulateTracker at line 7."},
        {"emulatetracker 2", "Invalid controller ID found for EmulateTracker option at line 7."},
        {"emulatetracker 1", "Incomplete option line found for EmulateTracker at line 7."},
        {"emulatetracker 1 x 1 2 0 0 0", "Incomplete option line found for EmulateTracker at line 7."},
        {"emulatetracker 1 x 1 2 0 0 0 0 1 1", "Too many args found for EmulateTracker at line 7."},
        {"emulatetracker 1 x 3 0 0 0 0 0", "Invalid valuator ID found for EmulateTracker option at line 7."},
        {"emulatetracker 1 x 1 2 0 0 0 0 0", "Invalid button ID found for EmulateTracker option at line 7. Ignored."},
        {"emulatetracker 1 x 1 2 0 0 0 0 12", "Invalid button ID found for EmulateTracker option at line 7. Ignored."},
        {"valuatororder", "Incomplete option line found for Order at line 7."},
        {"valuatororder 0 1", "Invalid controller ID found for Order option at line 7."},
        {"buttonorder -1 1", "Invalid controller ID found for Order option at line 7."},
        {"valuatororder 1 1 1", "Same ID found more than once in Order option at line 7."},
        {"valuatororder 1 1 0x1", "Same ID found more than once in Order option at line 7."},
        {"buttonorder 1 x", "Invalid arg found for Order at line 7."},
        {"valuatororder 1 3", "Invalid ID found in Order option at line 7."},
        {"buttonorder 1 -2", "Invalid ID found in Order option at line 7."},
        {"valuatorscale", "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale 2 1 1", "Invalid controller ID found for ValuatorScale option at line 7."},
        {"valuatorscale 1 2", "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale 1 [0,0,0,0] 1", "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale 1 [junk] 1", "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale 1 abc 1", "Invalid arg found for ValuatorScale at line 7."},
        {"valuatorscale 1 [1,0,0,0] 1 7", "Invalid valuator ID found for ValuatorScale option at line 7."},
        {"valuatorscale 1 2 x", "Invalid valuator ID found for ValuatorScale option at line 7."},
        {"controllerorder 2", "Invalid controller ID found for Order option at line 7."},
        {"order 0", "Invalid controller ID found for Order option at line 7."},
    };
    expectRefused(cases, sizeof cases / sizeof cases[0]);
}

TEST(ControllerOptionsRefused, ALineWithTwoFaultsReportsTheFirst) {
    const Refused cases[] = {
        {"emulatetracker 9", "Invalid controller ID found for EmulateTracker option at line 7."},
        {"emulatetracker 1 x 5 0 0 0 0 0 0 0", "Too many args found for EmulateTracker at line 7."},
        {"emulatetracker 1 x 5 0 0 0 0 0 0", "Invalid valuator ID found for EmulateTracker option at line 7."},
        {"valuatororder 1 1 1 x", "Same ID found more than once in Order option at line 7."},
        {"valuatororder 1 x 1 1", "Invalid arg found for Order at line 7."},
        {"valuatororder 1 9 9", "Same ID found more than once in Order option at line 7."},
        {"valuatorscale 1 abc 9", "Invalid arg found for ValuatorScale at line 7."},
        {"valuatorscale 1 [0,0,0,0] 9", "Incomplete option line found for ValuatorScale at line 7."},
        {"valuatorscale 1 2 1 9 all", "Invalid valuator ID found for ValuatorScale option at line 7."},
    };
    expectRefused(cases, sizeof cases / sizeof cases[0]);
}

TEST(ControllerOptionsRefused, EveryFaultyLineIsReportedAndTheRestApplied) {
    WandControllers w;
    EXPECT_FALSE(w.parse({"buttonorder 1 x", "ValuatorOrder 1 2 1", "valuatorscale 1 0"}));
    EXPECT_EQ(w.output,
              "HOST: ERROR: Invalid arg found for Order at line 7.\n"
              "HOST: ERROR: Incomplete option line found for ValuatorScale at line 9.\n");
    EXPECT_TRUE(w.options.entry(1).recognised);
    EXPECT_EQ(w.entry().valuatorOrder[0], 2u);
}

TEST(ControllerOptionsRefused, MissingListsAreReported) {
    WandControllers w;
    CaptureStdout capture;
    EXPECT_FALSE(w.common.parseOptions(nullptr));
    w.common.deleteControllerList();
    EXPECT_FALSE(w.common.parseOptions(w.options.list()));
    EXPECT_EQ(capture.text(), "HOST: ERROR: CConCommonH: config empty\nHOST: ERROR: CConCommonH: lookup Null\n");
}

TEST(ControllerOptionsApplied, OrdersRenumberAndSetTheCounts) {
    WandControllers w;
    ASSERT_TRUE(w.parse({"valuatororder 1 2 1", "buttonorder 1 0 3"}));
    EXPECT_EQ(w.output, "");
    EXPECT_TRUE(w.options.entry(0).recognised && w.options.entry(1).recognised);
    EXPECT_EQ(w.entry().valuatorCount, 2u);
    EXPECT_EQ(w.entry().valuatorOrder[0], 2u);
    EXPECT_EQ(w.entry().valuatorOrder[1], 1u);
    EXPECT_EQ(w.entry().buttonCount, 3u);
    for (std::uint32_t r = 0; r < 32; ++r) EXPECT_EQ(w.entry().buttonOrder[r], r == 2 ? 2u : 0u);

    // Each line sees what the one before left: the count is now 1.
    ASSERT_FALSE(w.parse({"valuatororder 1 1", "valuatorscale 1 2 2", "buttonorder 1"}));
    EXPECT_EQ(w.entry().valuatorCount, 1u);
    EXPECT_EQ(w.entry().buttonCount, 0u);

    w.common.countLimit = false;
    ASSERT_TRUE(w.parse({"valuatororder 1 3"}));
    EXPECT_EQ(w.entry().valuatorCount, 3u);
    EXPECT_EQ(w.entry().valuatorOrder[2], 1u);
}

TEST(ControllerOptionsApplied, ScalesGoToTheSelectedValuators) {
    WandControllers w;
    ASSERT_TRUE(w.parse({"valuatorscale 1 2.5 ALL", "valuatorscale 1 0 1", "valuatorscale 1 [1,-2] 2"}));
    const float expected[3][4] = {{0, 0, 0, 0}, {1, -2, 0, 0}, {0, 0, 2.5f, 0}};
    for (std::uint32_t r = 0; r < 32; ++r) {
        for (int t = 0; t < 4; ++t) EXPECT_EQ(w.entry().valuatorScale[r][t], expected[r < 2 ? r : 2][t]);
    }
    // Any real number is accepted; the data path copes with what it gives.
    ASSERT_TRUE(w.parse({"valuatorscale 1 -inf 1", "valuatorscale 1 1e300 2"}));
    EXPECT_EQ(w.entry().valuatorScale[0][2], -INFINITY);
    EXPECT_EQ(w.entry().valuatorScale[1][2], INFINITY);
}

TEST(ControllerOptionsApplied, EmulationTakesValuesAssignmentsAndResetButton) {
    WandControllers w;
    ASSERT_TRUE(w.parse({"emulatetracker 1 [1,2,3,4,5,6] 1 0 0 0 0 2 11"}));
    const TrackerEmulation* t = w.entry().trackerEmulation;
    ASSERT_NE(t, nullptr);
    const float init[6] = {1, 2, 3, 4, 5, 6};
    const std::uint32_t assign[6] = {1, 0, 0, 0, 0, 2};
    EXPECT_EQ(std::memcmp(t->initialValues, init, sizeof init), 0);
    EXPECT_EQ(std::memcmp(t->valuatorAssignment, assign, sizeof assign), 0);
    EXPECT_EQ(t->resetButton, 11u);

    ASSERT_TRUE(w.parse({"EmulateTracker 1 x 1 2 0 0 0 0"}));
    EXPECT_EQ(t->initialValues[0], 0.0f);
    EXPECT_EQ(t->resetButton, 0u);
}

TEST(ControllerOptionsApplied, ControllerOrderOnlyWhenNotAnInputConnector) {
    WandControllers w(2);
    w.common.outputControllerCount = 1;
    ASSERT_TRUE(w.parse({"order 2"}));
    EXPECT_FALSE(w.options.entry(0).recognised);
    EXPECT_EQ(w.common.getOutputNumber(1), 1u);

    w.common.inputConnector = false;
    ASSERT_TRUE(w.parse({"controllerorder 2 1"}));  // beyond the output count: ignored
    EXPECT_EQ(w.common.getOutputNumber(1), 0u);
    EXPECT_EQ(w.common.getOutputNumber(2), 1u);
    ASSERT_TRUE(w.parse({"unitorder"}));
    EXPECT_EQ(w.common.getOutputNumber(2), 0u);
}

TEST(ControllerOptionsHostile, FullLinesNullTextsAndBadCountsStayInBounds) {
    WandControllers w;
    w.common.countLimit = false;
    std::string full = "valuatororder 1";
    for (int i = 0; i < 62; ++i) full += " 0";
    ASSERT_TRUE(w.parse({(full + " 2").c_str(), "buttonorder 1 1 2"}));
    EXPECT_EQ(w.entry().valuatorOrder[1], 63u);

    OptionEntry& e = w.options.entry(1);
    e.argCount = 500;  // more than the table holds
    e.args[1] = nullptr;
    for (std::uint32_t i = 3; i < 64; ++i) e.args[i] = e.args[2];
    w.options.entry(0).name = nullptr;
    CaptureStdout capture;
    EXPECT_FALSE(w.common.parseOptions(w.options.list()));
    EXPECT_EQ(capture.text(), "HOST: ERROR: Same ID found more than once in Order option at line 8.\n");
    EXPECT_TRUE(w.options.entry(0).recognised);  // left as the earlier pass set it
}

TEST(BracketList, ReadsMembersUntilTheFirstMismatch) {
    float v[4] = {9, 9, 9, 9};
    EXPECT_EQ(readBracketList("[1,,2]", v, 4), 1u);
    EXPECT_EQ(v[0], 1.0f);
    EXPECT_EQ(v[1], 9.0f);
    EXPECT_EQ(readBracketList("[1e999,-1e999,0x1p3,4]tail", v, 3), 3u);
    EXPECT_EQ(v[0], INFINITY);
    EXPECT_EQ(v[1], -INFINITY);
    EXPECT_EQ(v[2], 8.0f);
    EXPECT_EQ(v[3], 9.0f);
    EXPECT_EQ(readBracketList("1,2", v, 4), 0u);
    EXPECT_EQ(readBracketList(nullptr, v, 4), 0u);
}
