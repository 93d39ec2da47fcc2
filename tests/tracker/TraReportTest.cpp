#include "CaptureStdout.h"
#include "TestOptions.h"
#include "TrackerTestSupport.h"
#include "tracker/CTraCommonH.h"

#include <gtest/gtest.h>

namespace {

const std::string I = "HOST: INFO: ";
const std::string C = I + "                      :";  // continuation label
const std::string kOrder = I + "TRACKER ORDER         : <Real tra> -> <Output tra>\n";

class TraReport : public ::testing::Test {
protected:
    TraReport() : host(quietLogger()), part(&host) { part.createLookup(3); }
    std::string report(bool withCave) {
        CaptureStdout out;
        EXPECT_TRUE(part.printInfo(withCave));
        return out.text();
    }
    void parse(std::initializer_list<std::string> lines) {
        std::uint32_t n = 0;
        for (const std::string& line : lines) options.line(++n, line);
        CaptureStdout out;
        ASSERT_TRUE(part.parseOptions(options.list())) << out.text();
    }

    CoutFormatGuard guard;
    CLogH host;
    CTraCommonH part;
    TestOptions options;
};

TEST_F(TraReport, NothingSetGivesOnlyTheOrderLines) {
    EXPECT_EQ(report(false), kOrder + C + "\n");
    const TraMatrix offset = matrixOffset(1, 2, 3);
    part.setLookupEntry(2, 0, &offset, nullptr, nullptr);  // no output position: never shown
    part.setLookupEntry(3, 2, nullptr, nullptr, nullptr);
    EXPECT_EQ(report(true), I + "CAVE COORDINATES      : Unused\n" + kOrder + C + " 3->2\n");
}

TEST_F(TraReport, TransmitterOffsetAloneAndTheFormatLeftOnTheStream) {
    part.setLookupEntry(1, 1, nullptr, nullptr, nullptr);
    part.setLookupEntry(2, 2, nullptr, nullptr, nullptr);
    parse({"transmitteroffset 1 2 3 inches"});
    const std::string identity = I + "TRANSMITTER TRANSFORM : [0][0]: 1.000 [0][1]: 0.000 [0][2]: 0.000\n" + C +
                                 " [1][0]: 0.000 [1][1]: 1.000 [1][2]: 0.000\n" + C +
                                 " [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000\n\n";
    const std::string tail = identity + kOrder + C + " 1->1 2->2\n";
    // Before the first cell the stream's own format applies; after it, fixed with 3 decimals.
    EXPECT_EQ(report(false), I + "TRANSMITTER OFFSET    : X:0.0833333 Y:0.166667 Z:0.25\n" + tail);
    EXPECT_EQ(report(false), I + "TRANSMITTER OFFSET    : X:0.083 Y:0.167 Z:0.250\n" + tail);
    EXPECT_EQ(std::cout.precision(), 3);
    EXPECT_TRUE(std::cout.flags() & std::ios::fixed);
    EXPECT_EQ(std::cout.width(), 0);
}

TEST_F(TraReport, RotationSensorsOffsetNumbersAndCalibration) {
    part.setLookupEntry(1, 1, nullptr, nullptr, nullptr);
    part.setLookupEntry(2, 2, nullptr, nullptr, nullptr);
    part.outputOffset = 3;
    parse({"cavecoord on", "transmitterrotation 0 0 1 90", "sensortranslation 1 1 2 3",
           "sensoroffset 2 1 -0.5 100", "sensorrotationmatrix 2 0.5 0 0 0 1 0 0 0 1",
           "calib " + kFixturePath + " a b"});
    const std::string turn = " [0][0]: 0.000 [0][1]: 1.000 [0][2]: 0.000\n" + C +
                             " [1][0]:-1.000 [1][1]: 0.000 [1][2]: 0.000\n" + C +
                             " [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000\n\n";
    const std::string half = " 2 [0][0]: 0.500 [0][1]: 0.000 [0][2]: 0.000\n" + C +
                             " 2 [1][0]: 0.000 [1][1]: 1.000 [1][2]: 0.000\n" + C +
                             " 2 [2][0]: 0.000 [2][1]: 0.000 [2][2]: 1.000\n\n";
    EXPECT_EQ(report(true), I + "CAVE COORDINATES      : Used\n" + I + "TRANSMITTER ROTATION  :" + turn + I +
                                "TRANSMITTER TRANSFORM :" + turn + kOrder + C + " 1->4 2->5\n" + I +
                                "SENSOR OFFSET         : 2 X:1.000 Y:-0.500 Z:100.000\n" + I +
                                "SENSOR ROTATION       :" + half + I + "SENSOR TRANSFORM      :" + half + I +
                                "CALIBRATION LIBRARY   : name:" + kFixturePath + "\n" + C + " arg[0]:a\n" + C +
                                " arg[1]:b\n");
}

}  // namespace
