#include "WandHost.h"
#include "TextContains.h"
#include "storage/ByteOrder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string reportLine(const std::string& label, const std::string& value) {
    return "HOST: INFO: " + label + value + "\n";
}

TEST(WandInit, DefaultWandReportsAndAnswersThree) {
    WandHost host;
    host.options = TestOptions("wand-1");
    host.withPortAnd({});
    ASSERT_EQ(host.start(), 1) << host.output();
    std::string buttons;
    for (int b = 1; b <= 11; ++b) buttons += " " + std::to_string(b) + "->" + std::to_string(b);
    EXPECT_EQ(host.output(),
              "HOST: INFO: DEVICE NAME           : wand-1\n"
              "HOST: INFO: DEVICE TYPE           : Quorlix(tm)\n"
              "HOST: INFO: VERSION               : 5.5\n"
              "HOST: INFO: DATA TYPE             : Controller\n"
              "HOST: INFO: SERIAL PORT           : " + host.line.name() + "\n"
              "HOST: INFO: NUMBER OF DEVICES     : 1\n"
              "HOST: INFO: NUMBER OF CONTROLLERS : 1\n"
              "HOST: INFO: VAL INCREMENT RATE    : 0\n"
              "HOST: INFO: VAL DECREMENT RATE    : 0\n"
              "HOST: INFO: CONTROLLER ORDER      : <Real con> -> <Output con>\n"
              "HOST: INFO:                       : 1->1\n"
              "HOST: INFO: VALUATOR ORDER(SCALE) : <Real val> -> <Output val>\n"
              "HOST: INFO:                       : 1->1(1X) 2->2(1X)\n"
              "HOST: INFO: BUTTON ORDER          : <Real but> -> <Output but>\n"
              "HOST: INFO:                       :" + buttons + "\n"
              "HOST: INFO: -----------------------\n");
    EXPECT_EQ(host.device->configure(), 3);
    EXPECT_EQ(host.storages.conCount, 1u);
    EXPECT_EQ(host.storages.traCount, 0u);
}

TEST(WandInit, IncrementAloneGivesTwiceItAsDecrement) {
    WandHost host;
    host.withPortAnd({"valrate 0.05"});
    ASSERT_EQ(host.start(), 1) << host.output();
    EXPECT_TRUE(contains(host.output(), reportLine("VAL INCREMENT RATE    : ", "0.05")));
    EXPECT_TRUE(contains(host.output(), reportLine("VAL DECREMENT RATE    : ", "0.1")));
}

TEST(WandInit, GivenDecrementWinsWhateverTheOrder) {
    for (const auto& lines : {std::vector<std::string>{"ValRate 0.05", "ValDecrementRate 0.01"},
                              std::vector<std::string>{"VALDECREMENTRATE 0.01", "valIncrementRate 0.05"}}) {
        WandHost host;
        host.withPortAnd(lines);
        ASSERT_EQ(host.start(), 1) << host.output();
        EXPECT_TRUE(contains(host.output(), reportLine("VAL DECREMENT RATE    : ", "0.01"))) << host.output();
    }
    WandHost zero;
    zero.withPortAnd({"valdecrementrate 0", "valrate 0.05"});
    ASSERT_EQ(zero.start(), 1);
    EXPECT_TRUE(contains(zero.output(), reportLine("VAL DECREMENT RATE    : ", "0")));
}

TEST(WandInit, LaterLineReplacesAndSignedOrBareDecimalsAreNumbers) {
    WandHost host;
    host.withPortAnd({"valrate .5", "valrate -0.5"});
    ASSERT_EQ(host.start(), 1) << host.output();
    EXPECT_TRUE(contains(host.output(), reportLine("VAL INCREMENT RATE    : ", "-0.5")));
    EXPECT_TRUE(contains(host.output(), reportLine("VAL DECREMENT RATE    : ", "-1")));
}

TEST(WandInit, RateBeyondFloatRangeBecomesInfinite) {
    WandHost host;
    host.withPortAnd({"valrate 1e300"});
    ASSERT_EQ(host.start(), 1) << host.output();
    EXPECT_TRUE(contains(host.output(), reportLine("VAL INCREMENT RATE    : ", "inf")));
}

TEST(WandInit, NumericOptionStartingWithALetterIsRefused) {
    WandHost host;
    host.withPortAnd({"valrate abc", "valdecrementrate x1"});
    EXPECT_EQ(host.start(), -1);
    EXPECT_EQ(host.output(),
              "HOST: ERROR: CQuorlix: Invalid arg found for ValIncrementRate at line 2.\n"
              "HOST: ERROR: CQuorlix: Invalid arg found for ValDecrementRate at line 3.\n");
}

TEST(WandInit, EveryFaultyPortLineIsReportedBeforeFailing) {
    WandHost host;
    host.options.line(7, "port");
    host.options.line(12, "serialport " + host.line.name() + " extra");
    host.options.line(13, "valrate");
    EXPECT_EQ(host.start(), -1);
    // Reported, then nothing else: no report, no port.
    EXPECT_EQ(host.output(),
              "HOST: ERROR: CQuorlix: Incomplete option line found for SerialPort at line 7.\n"
              "HOST: ERROR: CQuorlix: Too many args found for SerialPort at line 12.\n"
              "HOST: ERROR: CQuorlix: Incomplete option line found for ValIncrementRate at line 13.\n");
    EXPECT_FALSE(host.options.entry(0).recognised);
    EXPECT_FALSE(host.options.entry(1).recognised);
}

TEST(WandInit, OptionNamesIgnoreCase) {
    WandHost host;
    host.options.line(1, "PORT " + host.line.name());
    ASSERT_EQ(host.start(), 1) << host.output();
    EXPECT_TRUE(host.options.entry(0).recognised);
    EXPECT_TRUE(contains(host.output(), reportLine("SERIAL PORT           : ", host.line.name())));
}

TEST(WandInit, UnknownOptionFailsBeforeTheReportAndThePort) {
    WandHost host(4);
    host.withPortAnd({"bogus 1", "sensoroffset 1 0 0 0"});
    EXPECT_EQ(host.start(), -1);
    EXPECT_TRUE(contains(host.output(), "HOST: ERROR: CConfigH: Unknown option \"bogus\" found at line 2.\n"));
    // Tracker options mean nothing to a wand that emulates no tracker.
    EXPECT_TRUE(contains(host.output(), "HOST: ERROR: CConfigH: Unknown option \"sensoroffset\" found at line 3.\n"));
    EXPECT_FALSE(contains(host.output(), "DEVICE NAME"));
    EXPECT_FALSE(contains(host.output(), "CRS232H"));
}

TEST(WandInit, MissingBlocksAreRefused) {
    {
        WandHost host;
        host.withPortAnd({});
        host.device = createDev(host.options.list(), &host.logger);
        EXPECT_EQ(host.device->init(nullptr), -1);
        EXPECT_EQ(host.output(), "HOST: ERROR: CQuorlix: Init info is empty.\n");
    }
    {
        WandHost host;
        host.withPortAnd({});
        host.info.conStorage = nullptr;
        EXPECT_EQ(host.start(), -1);
        EXPECT_EQ(host.output(), "HOST: ERROR: CQuorlix: controller data storage pointer is empty.\n");
    }
    {
        WandHost host;
        host.withPortAnd({"emulatetracker 1 [0,0,0,0,0,0] 1 0 0 0 0 0"});
        host.info.traStorage = nullptr;
        EXPECT_EQ(host.start(), -1);
        EXPECT_EQ(host.output(), "HOST: ERROR: CQuorlix: tracker data storage pointer is empty.\n");
    }
}

TEST(WandInit, PortThatCannotOpenFailsAfterTheReport) {
    WandHost host;
    host.options.line(1, "port /dev/quorlix-no-such-line");
    EXPECT_EQ(host.start(), -1);
    const std::string out = host.output();
    EXPECT_TRUE(contains(out, reportLine("SERIAL PORT           : ", "/dev/quorlix-no-such-line")));
    EXPECT_TRUE(contains(out, "HOST: ERROR: CRS232H: Opening port /dev/quorlix-no-such-line: "));
    EXPECT_LT(out.find("-----------------------"), out.find("CRS232H: Opening port"));
}

TEST(WandInit, ControllerEntryFollowsThoseOfEarlierDevices) {
    WandHost host;
    host.storages.conCount = 3;
    host.withPortAnd({});
    ASSERT_EQ(host.start(), 1) << host.output();
    EXPECT_EQ(host.storages.conCount, 4u);
    EXPECT_TRUE(contains(host.output(), "HOST: INFO:                       : 1->4\n"));
}

TEST(WandInit, TrackerEmulationClaimsAndLoadsTheTrackerEntry) {
    WandHost host;
    host.storages.traCount = 2;
    host.withPortAnd({"emulatetracker 1 [1.5,-2,0,90,0,0] 1 2 0 0 0 0"});
    ASSERT_EQ(host.start(), 1) << host.output();
    EXPECT_EQ(host.device->configure(), 1);
    EXPECT_EQ(host.storages.traCount, 3u);
    const TraData& entry = host.traEntry(3);
    EXPECT_EQ(netToHost(entry.number), 3u);
    EXPECT_EQ(netToHostSigned(entry.x), 150000);
    EXPECT_EQ(netToHostSigned(entry.y), -200000);
    EXPECT_EQ(netToHostSigned(entry.azim), 9000000);
    const std::string out = host.output();
    EXPECT_TRUE(contains(out, "HOST: INFO: TRACKER EMULATION     : As tracker[1]\n"));
    EXPECT_TRUE(contains(out, "HOST: INFO: CAVE COORDINATES      : Unused\n"));
    EXPECT_TRUE(contains(out, "HOST: INFO:                       : 1->3\n"));  // tracker order with offset
    EXPECT_LT(out.find("CAVE COORDINATES"), out.find("-----------------------"));
}

TEST(WandInit, TrackerEntryBeyondTheStorageFailsInit) {
    WandHost host;
    host.storages.traCount = 32;
    host.withPortAnd({"emulatetracker 1 [0,0,0,0,0,0] 1 0 0 0 0 0"});
    EXPECT_EQ(host.start(), -1);
    EXPECT_TRUE(contains(host.output(), "HOST: ERROR: CQuorlix: Could not find tracker data entry.\n"));
    EXPECT_EQ(host.storages.traCount, 32u);
}

TEST(WandInit, OddOptionListsNeverCrash) {
    WandHost host;
    host.withPortAnd({"port", "valrate 1", "bogus"});
    OptionEntry& port = host.options.entry(1);
    port.argCount = 1000;  // beyond the table
    OptionEntry& rate = host.options.entry(2);
    rate.args[0] = nullptr;  // a null text counts as empty: the number 0
    host.options.entry(3).name = nullptr;
    host.options.list()->entryCount = 500;
    host.options.list()->deviceName = nullptr;
    EXPECT_EQ(host.start(), -1);
    EXPECT_TRUE(contains(host.output(), "HOST: ERROR: CQuorlix: Too many args found for SerialPort at line 2.\n"));

    // A host that hands over no list at all: the defaults, and the port "com2".
    WandHost bare;
    bare.device = createDev(nullptr, &bare.logger);
    ASSERT_NE(bare.device, nullptr);
    bare.device->init(&bare.info);
    EXPECT_TRUE(contains(bare.output(), reportLine("DEVICE NAME           : ", "")));
    EXPECT_TRUE(contains(bare.output(), reportLine("SERIAL PORT           : ", "com2")));
}

TEST(WandInit, PrintInfoBeforeInitPrintsEmptyTexts) {
    WandHost host;
    host.device = createDev(host.options.list(), &host.logger);
    EXPECT_TRUE(host.device->printInfo());
    EXPECT_TRUE(contains(host.output(), reportLine("NUMBER OF CONTROLLERS : ", "0")));
    EXPECT_TRUE(contains(host.output(), "HOST: INFO: -----------------------\n"));
}

TEST(WandStop, WithoutAPortOnlyTraces) {
    WandHost host(1);
    host.device = createDev(host.options.list(), &host.logger);
    host.clearOutput();
    EXPECT_TRUE(host.device->stop());
    EXPECT_EQ(host.output(), "HOST: DEBUG: CQuorlix: \"stop\" called.\n");
}

TEST(WandStop, GivesTheLineBack) {
    WandHost host;
    host.withPortAnd({});
    ASSERT_EQ(host.start(), 1);

    // A second wand on the same line is refused while the first holds it.
    TestOptions second;
    second.line(1, "port " + host.line.name());
    CBase* other = createDev(second.list(), &host.logger);
    InitInfo info = host.storages.initInfo(&host.runFlag);
    EXPECT_EQ(other->init(&info), -1);
    deleteDev(other);

    EXPECT_TRUE(host.device->stop());
    TestOptions third;
    third.line(1, "port " + host.line.name());
    other = createDev(third.list(), &host.logger);
    EXPECT_EQ(other->init(&info), 1) << host.output();
    deleteDev(other);
}

TEST(WandDelete, FreesTrackerThenControllerThenPort) {
    WandHost host(4);
    host.withPortAnd({"emulatetracker 1 [0,0,0,0,0,0] 1 0 0 0 0 0"});
    ASSERT_EQ(host.start(), 1) << host.output();
    host.clearOutput();
    EXPECT_TRUE(deleteDev(host.device));
    host.device = nullptr;
    const std::string out = host.output();
    const auto tracker = out.find("CTraCommonH: \"destructor\" called.");
    const auto controller = out.find("CConCommonH: \"destructor\" called.");
    const auto port = out.find("CRS232H: \"destructor\" called.");
    const auto wand = out.find("CQuorlix: \"destructor\" called.");
    ASSERT_NE(wand, std::string::npos) << out;
    EXPECT_LT(tracker, controller);
    EXPECT_LT(controller, port);
    EXPECT_LT(port, wand);
}

}  // namespace
