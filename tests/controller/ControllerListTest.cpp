#include "ControllerSetup.h"

#include <gtest/gtest.h>

#include <climits>

TEST(ControllerListLogger, TracesWithItsOwnDebugLevelOnACopyOfTheHostLogger) {
    CLogH host = quietLogger("HOST", 3);
    host.setDebugThreshold(5);  // only an owner at level 3 passes
    CaptureStdout capture;
    { CConCommonH common(&host); }
    EXPECT_EQ(capture.text(),
              "HOST: DEBUG: CConCommonH: \"constructor\" called.\n"
              "HOST: DEBUG: CConCommonH: \"destructor\" called.\n");
    capture.clear();
    { CConCommonH quiet(nullptr); }  // a logger of its own never has a debug level
    EXPECT_EQ(capture.text(), "");
}

TEST(ControllerList, CreateClearsEntriesAndRefusesZero) {
    WandControllers w(2);
    EXPECT_FALSE(w.common.createControllerList(0, false));
    EXPECT_EQ(w.common.getOutputNumber(1), 1u);  // the list was kept
    EXPECT_TRUE(w.common.countLimit);

    ASSERT_TRUE(w.common.createControllerList(2, false));
    EXPECT_FALSE(w.common.countLimit);
    for (std::uint32_t c = 1; c <= 2; ++c) {
        const ControllerEntry& e = w.entry(c);
        EXPECT_EQ(e.outputNumber + e.valuatorCount + e.buttonCount, 0u);
        EXPECT_EQ(e.trackerEmulation, nullptr);
        for (std::uint32_t r = 0; r < 32; ++r) {
            EXPECT_EQ(e.valuatorOrder[r] + e.buttonOrder[r], 0u);
            EXPECT_EQ(e.valuatorScale[r][0] + e.valuatorScale[r][1] + e.valuatorScale[r][3], 0.0f);
            EXPECT_EQ(e.valuatorScale[r][2], 1.0f);
        }
    }
}

TEST(ControllerList, DefaultsFillOrdersUpToTheCountsAndRefuseWhatTheTablesCannotHold) {
    WandControllers w(2);
    EXPECT_EQ(w.common.getValuatorCount(1), 2u);
    EXPECT_EQ(w.common.getButtonCount(1), 11u);
    for (std::uint32_t r = 1; r <= 32; ++r) {
        EXPECT_EQ(w.common.getValuatorOrder(1, r), r <= 2 ? r : 0u);
        EXPECT_EQ(w.common.getButtonOrder(1, r), r <= 11 ? r : 0u);
    }
    EXPECT_FALSE(w.common.setControllerDefaults(3, 1, 2, 11));
    EXPECT_FALSE(w.common.setControllerDefaults(0, 1, 2, 11));
    EXPECT_FALSE(w.common.setControllerDefaults(2, 1, 33, 0));
    EXPECT_FALSE(w.common.setControllerDefaults(2, 1, 0, 33));
    EXPECT_EQ(w.common.getOutputNumber(2), 0u);
}

TEST(ControllerList, EmulationIsReplacedRestartedNumberedAndFreed) {
    WandControllers w(3);
    const float init[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(w.common.setTrackerEmulation(1, 9, init, nullptr, 0));
    w.entry(1).trackerEmulation->lastUpdateTime = 42.0;
    TrackerEmulation* first = w.entry(1).trackerEmulation;
    ASSERT_TRUE(w.common.setTrackerEmulation(1, 0, nullptr, nullptr, 3));
    EXPECT_EQ(w.entry(1).trackerEmulation, first);
    EXPECT_EQ(first->lastUpdateTime, 0.0);
    EXPECT_EQ(first->initialValues[5], 0.0f);
    EXPECT_EQ(first->resetButton, 3u);
    EXPECT_FALSE(w.common.setTrackerEmulation(4, 0, nullptr, nullptr, 0));

    EXPECT_EQ(w.common.assignTrackerNumbers(0), 0);
    ASSERT_TRUE(w.common.setTrackerEmulation(3, 0, nullptr, nullptr, 0));
    EXPECT_EQ(w.common.assignTrackerNumbers(5), 2);
    EXPECT_EQ(w.common.getEmulatedTrackerNumber(1), 5u);
    EXPECT_EQ(w.common.getEmulatedTrackerNumber(2), 0u);
    EXPECT_EQ(w.common.getEmulatedTrackerNumber(3), 6u);
    EXPECT_EQ(w.common.assignTrackerNumbers(INT_MAX), 2);  // counting on past the top must not overflow

    // Replacing and deleting the list frees the emulations (the leak checker watches).
    ASSERT_TRUE(w.common.createControllerList(1, true));
    EXPECT_EQ(w.entry(1).trackerEmulation, nullptr);
    ASSERT_TRUE(w.common.setTrackerEmulation(1, 0, nullptr, nullptr, 0));
    EXPECT_TRUE(w.common.deleteControllerList());
    EXPECT_FALSE(w.common.deleteControllerList());
    EXPECT_EQ(w.common.getControllerCount(), 0u);
    EXPECT_EQ(w.common.getController(1), nullptr);
}
