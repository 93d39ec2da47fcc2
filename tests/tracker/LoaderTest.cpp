#include "CaptureStdout.h"
#include "TestOptions.h"
#include "TrackerTestSupport.h"
#include "support/CDynamicLibH.h"
#include "tracker/CCalibH.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

namespace {

const std::string kMissing = "/nonexistent/quorlix-no-such-library.so";

TEST(DynamicLib, LoadsWithItsTraceAndReleasesOnDestruction) {
    const CLogH host = quietLogger("HOST", 3);
    CaptureStdout out;
    {
        CDynamicLibH lib(kFixturePath.c_str(), &host);
        EXPECT_TRUE(lib.isLoaded());
        EXPECT_EQ(fixtureLoads(), 1);
    }
    EXPECT_EQ(fixtureLoads(), 0);
    EXPECT_EQ(out.text(),
              "HOST: DEBUG: CDynamicLibH: \"constructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"init\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"load\" called.\n"
              "HOST: DEBUG: CDynamicLibH: " + kFixturePath + " library loaded.\n"
              "HOST: DEBUG: CDynamicLibH: \"destructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"unload\" called.\n");
}

TEST(DynamicLib, RefusesASecondLoadWithoutTakingASecondReference) {
    const CLogH host = quietLogger("HOST", 0);
    CaptureStdout out;
    CDynamicLibH lib(kFixturePath.c_str(), &host);
    EXPECT_FALSE(lib.load(kFixturePath.c_str()));
    EXPECT_FALSE(lib.load(kMissing.c_str()));
    EXPECT_TRUE(lib.isLoaded());
    EXPECT_EQ(out.text(), "");  // silent without debug, also when refusing
    EXPECT_TRUE(lib.unload());
    EXPECT_FALSE(lib.isLoaded());
    EXPECT_EQ(fixtureLoads(), 0);  // one release was enough
}

TEST(DynamicLib, ReportsEmptyAndMissingNamesAndLoadsAfterwards) {
    const CLogH host = quietLogger("HOST", 3);
    CaptureStdout out;
    CDynamicLibH lib(nullptr, &host);
    EXPECT_FALSE(lib.load(""));
    EXPECT_FALSE(lib.load(nullptr));
    EXPECT_FALSE(lib.load(kMissing.c_str()));
    EXPECT_EQ(out.text(),
              "HOST: DEBUG: CDynamicLibH: \"constructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"init\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"load\" called.\n"
              "HOST: ERROR: CDynamicLibH: Library name is empty.\n"
              "HOST: DEBUG: CDynamicLibH: \"load\" called.\n"
              "HOST: ERROR: CDynamicLibH: Library name is empty.\n"
              "HOST: DEBUG: CDynamicLibH: \"load\" called.\n"
              "HOST: ERROR: CDynamicLibH: Can not load the library " + kMissing + "\n");
    EXPECT_FALSE(lib.isLoaded());
    EXPECT_TRUE(lib.load(kFixturePath.c_str()));
    EXPECT_EQ(fixtureLoads(), 1);
}

TEST(CalibLib, TracesInOrderAndDiesThroughTheBase) {
    const CLogH host = quietLogger("HOST", 3);
    CaptureStdout out;
    std::unique_ptr<CDynamicLibH> lib(new CCalibH(kMissing.c_str(), &host));
    lib.reset(new CCalibH(kFixturePath.c_str(), &host));
    lib.reset();
    EXPECT_EQ(fixtureLoads(), 0);
    EXPECT_EQ(out.text(),
              "HOST: DEBUG: CDynamicLibH: \"constructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"init\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"load\" called.\n"
              "HOST: ERROR: CDynamicLibH: Can not load the library " + kMissing + "\n"
              "HOST: DEBUG: CCalibH: \"init\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"constructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"init\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"load\" called.\n"
              "HOST: DEBUG: CDynamicLibH: " + kFixturePath + " library loaded.\n"
              "HOST: DEBUG: CCalibH: \"init\" called.\n"
              "HOST: DEBUG: CCalibH: \"destructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"destructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"unload\" called.\n"
              "HOST: DEBUG: CCalibH: \"destructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"destructor\" called.\n"
              "HOST: DEBUG: CDynamicLibH: \"unload\" called.\n");
}

TEST(CalibLib, OwnLoggerIsNamedCCalibHAfterTheBaseHasLoaded) {
    CaptureStdout out;
    CCalibH lib(kMissing.c_str(), nullptr);
    lib.load("");
    EXPECT_TRUE(std::regex_search(out.text(), std::regex(" CDynamicLibH\\[\\d+\\]: ERROR: CDynamicLibH: Can not load")))
        << out.text();
    EXPECT_TRUE(std::regex_search(out.text(), std::regex(" CCalibH\\[\\d+\\]: ERROR: CDynamicLibH: Library name is empty")))
        << out.text();
}

}  // namespace
