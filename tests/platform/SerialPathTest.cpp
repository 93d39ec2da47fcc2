#include "platform/posix/SerialPath.h"

#include <gtest/gtest.h>

namespace {

TEST(SerialPath, WindowsNamesMapToTheLinesOfThisSystem) {
    EXPECT_EQ(platform::serialDevicePath("com1"), "/dev/ttyS0");
    EXPECT_EQ(platform::serialDevicePath("COM2"), "/dev/ttyS1");
    EXPECT_EQ(platform::serialDevicePath("Com12"), "/dev/ttyS11");
}

TEST(SerialPath, PathsStayAsGivenAndBareNamesLiveInDev) {
    EXPECT_EQ(platform::serialDevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(platform::serialDevicePath("./wand"), "./wand");
    EXPECT_EQ(platform::serialDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    // Not "comN" with N from 1: an ordinary name.
    EXPECT_EQ(platform::serialDevicePath("com0"), "/dev/com0");
    EXPECT_EQ(platform::serialDevicePath("com"), "/dev/com");
    EXPECT_EQ(platform::serialDevicePath("com2a"), "/dev/com2a");
    EXPECT_EQ(platform::serialDevicePath("com99999999999999999999"), "/dev/com99999999999999999999");
    EXPECT_EQ(platform::serialDevicePath(""), "");
    EXPECT_EQ(platform::serialDevicePath(nullptr), "");
}

}  // namespace
