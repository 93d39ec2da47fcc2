#include "CaptureStdout.h"
#include "TestOptions.h"
#include "TrackerTestSupport.h"
#include "support/CConfigH.h"
#include "tracker/CCalibH.h"
#include "tracker/CTraCommonH.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

namespace {

// Every setting of the part as text, floats exact, so "changed nothing" is one comparison.
std::string dump(const CTraCommonH& p) {
    std::ostringstream s;
    s << std::hexfloat;
    auto matrix = [&s](const TraMatrix& m) {
        for (float e : m.m) s << e << ' ';
        s << '\n';
    };
    matrix(p.getTransmitterOffset());
    matrix(p.getTransmitterRotation());
    matrix(p.getTransmitterTransform());
    s << p.isTransmitterOffsetSet() << p.isTransmitterRotationSet() << p.getCaveCoordinates() << '\n';
    for (std::uint32_t n = 1; n <= p.getEntryCount(); ++n) {
        const TraLookupEntry& e = *p.getLookupEntry(n);
        s << e.order << ' ' << e.offsetSet << e.rotationSet << e.translationSet << ' ' << e.sensorTranslation[0]
          << ' ' << e.sensorTranslation[1] << ' ' << e.sensorTranslation[2] << '\n';
        matrix(e.sensorOffset);
        matrix(e.sensorRotation);
        matrix(e.sensorTransform);
    }
    s << (p.getCalibration() != nullptr) << ' ' << (p.getCalibration() ? p.getCalibrationName() : "") << ' '
      << p.getCalibrationArgCount();
    for (std::uint32_t i = 0; i < p.getCalibrationArgCount(); ++i) s << ' ' << p.getCalibrationArg(i);
    return s.str();
}

class TraOptions : public ::testing::Test {
protected:
    TraOptions() : host(quietLogger()), part(new CTraCommonH(&host)) {
        part->maxTrackers = 2;
        part->createLookup(2);
        part->setLookupEntry(1, 1, nullptr, nullptr, nullptr);
    }
    // Parses the lines, numbered from 1, and keeps what was written.
    bool parse(std::initializer_list<std::string> lines) {
        options.reset(new TestOptions);
        std::uint32_t n = 0;
        for (const std::string& line : lines) options->line(++n, line);
        CaptureStdout out;
        const bool result = part->parseOptions(options->list());
        text = out.text();
        return result;
    }
    bool recognised(std::uint32_t line) { return options->entry(line - 1).recognised; }

    CoutFormatGuard guard;
    CLogH host;
    std::unique_ptr<CTraCommonH> part;
    std::unique_ptr<TestOptions> options;
    std::string text;
};

TEST_F(TraOptions, FaultyLinesAreReportedAndChangeNothing) {
    const std::pair<const char*, const char*> faults[] = {
        {"transmitteroffset 1 2", "Incomplete option line found for TransmitterOffset"},
        {"transmitteroffset 1 2 3 feet 5", "Too many args found for TransmitterOffset"},
        {"transmitteroffset abc 2 3", "Invalid arg found for TransmitterOffset"},
        {"transmitteroffset 1 2 3 yards", "Invalid string found for TransmitterOffset"},
        {"transmitterrotation 0 0 1", "Incomplete option line found for TransmitterRotation"},
        {"transmitterrotation 0 0 1 abc", "Invalid arg found for TransmitterRotation"},
        {"transmitterrotation 0 0 1 90 5", "Too many args found for TransmitterRotation"},
        {"TransmitterRotationMatrix 1 0 0 0 1 0 0 0", "Incomplete option line found for TransmitterRotationMatrix"},
        {"transmitterrotationmatrix 1 0 0 0 1 0 0 0 1 0", "Too many args found for TransmitterRotationMatrix"},
        {"sensoroffset", "Incomplete option line found for SensorOffset"},
        {"sensoroffset 0 1 2 3", "Invalid tracker ID found for SensorOffset"},
        {"sensoroffset 3 1 2 3", "Invalid tracker ID found for SensorOffset"},
        {"sensoroffset -1 1 2 3", "Invalid tracker ID found for SensorOffset"},
        {"sensoroffset 010 1 2 3", "Invalid tracker ID found for SensorOffset"},
        {"sensoroffset 1 2", "Incomplete option line found for SensorOffset"},
        {"sensoroffset 1 1 2 3 cm 4", "Too many args found for SensorOffset"},
        {"sensoroffset 1 1 2 3 yards", "Invalid unit found for SensorOffset"},
        {"sensortranslation 2 1 x 3", "Invalid arg found for SensorTranslation"},
        {"sensortranslation 1 1 2 3 furlongs", "Invalid unit found for SensorTranslation"},
        {"sensorrotation 1 0 0 1", "Incomplete option line found for SensorRotation"},
        {"sensorrotation 1 0 0 1 abc", "Invalid arg found for SensorRotation"},
        {"sensorrotationmatrix 2 1 0 0 0 1 0 0 0 z", "Invalid arg found for SensorRotationMatrix"},
        {"calibration", "Incomplete option line found for Calibration"},
        {"calib lib 1 2 3 4 5 6 7 8 9 10 11", "Too many args found for Calibration"},
        {"cavecoord", "Incomplete option line found for CAVECoord"},
        {"cavecoordinates on off", "Too many args found for CAVECoord"},
        {"cavecoord maybe", "Invalid string found for CAVECoord"},
    };
    const std::string before = dump(*part);
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.first);
        EXPECT_FALSE(parse({"x", fault.first}));
        EXPECT_EQ(text, std::string("HOST: ERROR: ") + fault.second + " at line 2.\n");
        EXPECT_FALSE(recognised(2));
        EXPECT_EQ(dump(*part), before);
    }
    EXPECT_FALSE(parse({"order 1"}));
    EXPECT_EQ(text, "HOST: ERROR: Can not change the order on input connector at line 1.\n");
    EXPECT_EQ(dump(*part), before);
    EXPECT_TRUE(parse({}));
    EXPECT_EQ(text, "");
}

TEST_F(TraOptions, AfterAFailureTransmitterAndSensorLinesAreCheckedButNotApplied) {
    EXPECT_FALSE(parse({"transmitteroffset 1 2", "sensoroffset 1 a 2 3", "sensoroffset 1 1 2 3",
                        "transmitteroffset 1 2 3 yards", "transmitterrotation 0 0 1 abc",
                        "sensorrotationmatrix 3 1 0 0 0 1 0 0 0 1", "cavecoord on", "calib " + kFixturePath}));
    EXPECT_EQ(text,
              "HOST: ERROR: Incomplete option line found for TransmitterOffset at line 1.\n"
              "HOST: ERROR: Invalid arg found for SensorOffset at line 2.\n"
              "HOST: ERROR: Invalid tracker ID found for SensorRotationMatrix at line 6.\n");
    for (std::uint32_t line = 1; line <= 6; ++line) EXPECT_FALSE(recognised(line)) << line;
    EXPECT_FALSE(part->getLookupEntry(1)->offsetSet);
    EXPECT_FALSE(part->isTransmitterOffsetSet() || part->isTransmitterRotationSet());
    EXPECT_TRUE(recognised(7) && recognised(8));
    EXPECT_TRUE(part->getCaveCoordinates());
    EXPECT_EQ(fixtureLoads(), 1);
}

TEST_F(TraOptions, UnitsSwitchesAndNamesInAnyCase) {
    EXPECT_TRUE(parse({"TRANSMITTEROFFSET 12 24 36 Inches", "SensorOffset 0x1 1 2 -3 METERS",
                       "sensortranslation 2 100 0 0 cM", "sensoroffset 2 -x 1a 2 FEET",
                       "CAVECOORDINATES yes", "cavecoord OFF"}));
    for (std::uint32_t line = 1; line <= 6; ++line) EXPECT_TRUE(recognised(line)) << line;
    const TraMatrix& t = part->getTransmitterOffset();
    EXPECT_FLOAT_EQ(t.m[3], 1.0f);
    EXPECT_FLOAT_EQ(t.m[7], 2.0f);
    EXPECT_FLOAT_EQ(t.m[11], 3.0f);
    EXPECT_FLOAT_EQ(part->getTransmitterTransform().m[14], 3.0f);
    const TraLookupEntry& one = *part->getLookupEntry(1);
    EXPECT_FLOAT_EQ(one.sensorOffset.m[11], -3 * 3.28083992f);
    EXPECT_FLOAT_EQ(one.sensorTransform.m[12], 3.28083992f);
    const TraLookupEntry& two = *part->getLookupEntry(2);
    EXPECT_FLOAT_EQ(two.sensorTranslation[0], 3.28084f);
    EXPECT_TRUE(two.translationSet);
    EXPECT_EQ(two.sensorOffset.m[3], 0.0f);  // "-x" reads as 0 and "1a" as 1
    EXPECT_EQ(two.sensorOffset.m[7], 1.0f);
    EXPECT_EQ(two.sensorTransform.m[13], 1.0f);
    EXPECT_FALSE(part->getCaveCoordinates());
}

TEST_F(TraOptions, LaterLinesWinButAZeroTransmitterOffsetKeepsTheEarlierOne) {
    EXPECT_TRUE(parse({"transmitteroffset 1 -1 0", "transmitteroffset 0 0 0 m", "transmitterrotation 0 0 0 45",
                       "sensorrotation 2 0 0 1 90", "sensorrotation 2 1 0 0 90", "sensoroffset 2 4 5 6"}));
    EXPECT_TRUE(recognised(2));
    EXPECT_EQ(part->getTransmitterOffset().m[7], -1.0f);
    EXPECT_TRUE(part->isTransmitterRotationSet());
    EXPECT_EQ(part->getTransmitterTransform().m[0], 1.0f);
    EXPECT_EQ(part->getTransmitterTransform().m[13], -1.0f);
    const TraMatrix& sensor = part->getLookupEntry(2)->sensorTransform;
    EXPECT_FLOAT_EQ(sensor.m[6], 1.0f);  // the rotation about x won
    EXPECT_EQ(sensor.m[12], 4.0f);
    EXPECT_EQ(sensor.m[15], 1.0f);
}

TEST_F(TraOptions, OrderOnAnOutputConnectorAndCaveLeftToTheUnknownReport) {
    part->inputConnector = false;
    EXPECT_TRUE(parse({"trackerorder 2 1"}));
    EXPECT_EQ(part->getLookupEntry(1)->order, 2u);
    EXPECT_EQ(part->getLookupEntry(2)->order, 1u);
    EXPECT_TRUE(parse({"unitorder 2 2"}));
    EXPECT_EQ(part->getLookupEntry(1)->order, 0u);
    EXPECT_EQ(part->getLookupEntry(2)->order, 2u);
    EXPECT_TRUE(parse({"cavecoord on", "order 1 2 9"}));  // beyond maxTrackers: ignored
    EXPECT_EQ(text, "");
    EXPECT_EQ(part->getLookupEntry(1)->order, 1u);
    EXPECT_FALSE(part->getCaveCoordinates());
    CaptureStdout out;
    EXPECT_FALSE(CConfigH::reportUnknownOptions(options->list(), &host));
    EXPECT_EQ(out.text(), "HOST: ERROR: CConfigH: Unknown option \"cavecoord\" found at line 1.\n");
    EXPECT_FALSE(parse({"transmitteroffset", "ORDER 1 x"}));
    EXPECT_EQ(text, "HOST: ERROR: Incomplete option line found for TransmitterOffset at line 1.\n"
                    "HOST: ERROR: Invalid tracker ID found for Order at line 2.\n");
    EXPECT_TRUE(parse({"order"}));
    EXPECT_EQ(part->getLookupEntry(1)->order + part->getLookupEntry(2)->order, 0u);
}

TEST_F(TraOptions, CalibrationReplacesItsLibraryAndArgumentsAndIsReleasedWithThePart) {
    EXPECT_TRUE(parse({"calibration " + kFixturePath + " 1 2 3 4 5 6 7 8 9 10"}));
    ASSERT_NE(part->getCalibration(), nullptr);
    EXPECT_EQ(part->getCalibrationArgCount(), 10u);
    EXPECT_STREQ(part->getCalibrationArg(9), "10");
    EXPECT_EQ(fixtureLoads(), 1);
    const std::string missing = "/nonexistent/calib.so";
    EXPECT_TRUE(parse({"calib " + missing + " a"}));
    EXPECT_EQ(text, "HOST: ERROR: CDynamicLibH: Can not load the library " + missing + "\n");
    EXPECT_EQ(fixtureLoads(), 0);
    EXPECT_STREQ(part->getCalibrationName(), missing.c_str());
    EXPECT_EQ(part->getCalibrationArgCount(), 1u);

    // 255 characters fit and load; one more is refused and keeps what is held.
    std::string fits = kFixturePath;
    const std::size_t slash = fits.rfind('/');
    fits.insert(slash, std::string(255 - fits.size(), '/'));
    ASSERT_EQ(fits.size(), 255u);
    EXPECT_TRUE(parse({"calib " + fits + " x"}));
    EXPECT_EQ(fixtureLoads(), 1);
    const std::string held = dump(*part);
    EXPECT_FALSE(parse({"calib /" + fits, "calib " + fits + " 1 2 3 4 5 6 7 8 9 10 11"}));
    EXPECT_EQ(text, "HOST: ERROR: Invalid arg found for Calibration at line 1.\n"
                    "HOST: ERROR: Too many args found for Calibration at line 2.\n");
    EXPECT_EQ(dump(*part), held);
    EXPECT_EQ(fixtureLoads(), 1);
    part.reset();
    EXPECT_EQ(fixtureLoads(), 0);
}

TEST_F(TraOptions, HostileLinesNeitherCrashNorReadOutOfBounds) {
    std::string many;
    for (int i = 0; i < 63; ++i) many += " 1";
    const char* names[] = {"transmitteroffset", "transmitterrotation", "transmitterrotationmatrix", "sensoroffset",
                           "sensortranslation", "sensorrotation", "sensorrotationmatrix", "calib", "order",
                           "cavecoord"};
    options.reset(new TestOptions);
    std::uint32_t n = 0;
    for (const char* name : names) options->line(++n, name + many);  // 63 args
    for (const char* name : names) options->line(++n, std::string(name) + " 1 1 1 1 1 1 1 1 1 1");
    for (std::uint32_t i = 10; i < 20; ++i) {
        options->entry(i).argCount = 200;  // beyond the table, some texts missing
        options->entry(i).args[2] = nullptr;
        options->entry(i).args[10] = options->entry(i).args[20] = nullptr;
    }
    options->line(++n, "sensoroffset 4294967297 1 2 3");
    options->line(++n, "sensoroffset 99999999999 1 2 3");
    options->entry(n - 1).name = nullptr;
    CaptureStdout out;
    EXPECT_FALSE(part->parseOptions(options->list()));
    EXPECT_EQ(part->getCalibration(), nullptr);

    EXPECT_TRUE(parse({"transmitteroffset nan inf -1e300", "sensorrotation 1 inf 0 0 1e300"}));
    EXPECT_TRUE(std::isnan(part->getTransmitterOffset().m[3]));
    EXPECT_EQ(part->getTransmitterOffset().m[7], INFINITY);
    EXPECT_EQ(part->getTransmitterOffset().m[11], -INFINITY);
}

}  // namespace
