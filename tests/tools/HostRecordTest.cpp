#include "LogCapture.h"
#include "PluginLogger.h"
#include "RateMeter.h"
#include "RecordJson.h"
#include "ScreenView.h"

#include "storage/ByteOrder.h"
#include "storage/ConData.h"
#include "storage/TraData.h"
#include "support/CLogH.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A controller record as the plug-in publishes one, built with its own code.
quorlix_con_data controllerRecord(std::initializer_list<int> pressed, float v1, float v2) {
    ConData con;
    std::memset(&con, 0, sizeof con);
    con.reset();
    con.number = hostToNet(3);
    con.timeSec = hostToNetSigned(1700000000);
    con.timeUsec = hostToNetSigned(250000);
    con.valuatorCount = hostToNet(2);
    con.buttonCount = hostToNet(11);
    con.storeValuator(1, v1);
    con.storeValuator(2, v2);
    for (int b : pressed) con.setButton(static_cast<std::uint32_t>(b), 1);
    quorlix_con_data out;
    std::memcpy(&out, &con, sizeof out);
    return out;
}

TEST(HostRecordJson, ControllerRecordWithItsExactValues) {
    quorlix_con_data con = controllerRecord({1, 8, 11}, 0.25f, -1.0f);
    EXPECT_EQ(host::controllerJson("wand", 1, con),
              "{\"device\":\"wand\",\"kind\":\"controller\",\"entry\":1,\"number\":3,\"time\":1700000000.250000,"
              "\"buttons\":[1,0,0,0,0,0,0,1,0,0,1],\"valuators\":[0.250,-1.000]}");
    // The public reader's decoders agree with the plug-in's own.
    ConData same;
    std::memcpy(&same, &con, sizeof same);
    for (std::uint32_t n = 0; n <= 12; ++n) EXPECT_EQ(quorlix_con_button(&con, n), same.getButton(n)) << n;
    for (std::uint32_t n = 0; n <= 3; ++n) EXPECT_EQ(quorlix_con_valuator(&con, n), same.getValuator(n)) << n;
}

TEST(HostRecordJson, ButtonsBeyondTheUsedBytesOrCountAreNotPressed) {
    quorlix_con_data con = controllerRecord({}, 0, 0);
    con.buttons[1] = 0xFF;
    con.button_bytes = 1;
    EXPECT_EQ(quorlix_con_button(&con, 9), 0);
    con.button_bytes = 4;
    EXPECT_EQ(quorlix_con_button(&con, 9), 1);
    EXPECT_EQ(quorlix_con_button(&con, 12), 0) << "beyond the button count";
    con.button_count = hostToNet(1000);
    EXPECT_EQ(quorlix_con_button(&con, 33), 0);
    // A count beyond the record's room is shown only as far as the record goes.
    std::string json = host::controllerJson("w", 1, con);
    EXPECT_NE(json.find("\"buttons\":[0,0,0,0,0,0,0,0,1,1,1,1,1,1,1,1,0,"), std::string::npos) << json;
    con.valuator_count = hostToNet(0xFFFFFFFF);
    json = host::controllerJson("w", 1, con);
    EXPECT_EQ(std::count(json.begin(), json.end(), '.'), 1 + 32) << "time stamp and 32 valuators, no more";
}

TEST(HostRecordJson, TrackerPoseAndTexts) {
    TraData tra;
    std::memset(&tra, 0, sizeof tra);
    tra.setNumber(2);
    tra.setTime(1700000001, 5);
    tra.setX(1.5f);
    tra.setY(-0.000019f);
    tra.setRoll(-2.5f);
    quorlix_tra_data out;
    std::memcpy(&out, &tra, sizeof out);
    EXPECT_EQ(host::trackerJson("a \"b\"\n", 4, out),
              "{\"device\":\"a \\\"b\\\"\\u000a\",\"kind\":\"tracker\",\"entry\":4,\"number\":2,"
              "\"time\":1700000001.000005,\"pose\":{\"x\":1.50000,\"y\":-0.00001,\"z\":0.00000,\"azim\":0.00000,"
              "\"elev\":0.00000,\"roll\":-2.50000}}");
    EXPECT_FLOAT_EQ(quorlix_tra_value(out.x), tra.getX());
    EXPECT_EQ(host::fixedDecimal(std::numeric_limits<std::int32_t>::min(), 3), "-2147483.648");
    EXPECT_EQ(host::fixedDecimal(-5, 3), "-0.005");
    EXPECT_EQ(host::fixedDecimal(0, 5), "0.00000");
}

TEST(HostScreen, ValuatorBarsAndFrames) {
    EXPECT_EQ(host::valuatorBar(0.0f, 4), "[    |    ]");
    EXPECT_EQ(host::valuatorBar(0.5f, 4), "[    |##  ]");
    EXPECT_EQ(host::valuatorBar(-1.0f, 4), "[####|    ]");
    EXPECT_EQ(host::valuatorBar(7.0f, 4), "[    |####]");
    EXPECT_EQ(host::valuatorBar(std::nanf(""), 4), "[    |    ]");

    host::ScreenFrame frame;
    frame.title = "title";
    host::DeviceLine device;
    device.name = "wand";
    device.port = "/dev/pts/3";
    device.state = "running";
    device.recordsPerSecond = 12.5;
    device.records = 40;
    frame.devices.push_back(device);
    host::LiveModel::Entry entry;
    entry.device = "wand";
    entry.entry = 1;
    entry.con = controllerRecord({2, 10}, 0.5f, -0.25f);
    frame.entries.push_back(entry);
    host::LiveModel::Entry other = entry;
    other.device = "another";
    frame.entries.push_back(other);
    frame.log = {"line one"};
    std::vector<std::string> lines = host::renderFrame(frame);
    std::string text = host::screenText(lines, false);
    EXPECT_NE(text.find("wand       /dev/pts/3     running       12.5 records/s   last change -"), std::string::npos)
        << text;
    EXPECT_NE(text.find("buttons    . 2 . . . . . . . 10  ."), std::string::npos) << text;
    EXPECT_NE(text.find("valuator 1  [          |#####     ] +0.500"), std::string::npos) << text;
    EXPECT_NE(text.find("valuator 2  [       ###|          ] -0.250"), std::string::npos) << text;
    EXPECT_NE(text.find("--- log ---\nline one\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("\x1b"), std::string::npos) << "plain text has no terminal codes";
    std::size_t entries = 0;
    for (const std::string& l : lines) entries += l.find("controller 1") != std::string::npos;
    EXPECT_EQ(entries, 1u) << "entries of other devices are not shown under this one";
    std::string live = host::screenText({"a", "b"}, true);
    EXPECT_EQ(live, "\x1b[Ha\x1b[K\nb\x1b[K\n\x1b[J");
}

TEST(HostScreen, DeviceTextCannotControlTheTerminal) {
    host::ScreenFrame frame;
    host::DeviceLine device;
    device.name = "w\x1b]0;x\x07";
    device.port = "/dev/\x9b" "2J";
    frame.devices.push_back(device);
    frame.warnings = {"held by \x1b[2J"};
    frame.log = {"text \x1b[2J caf\xc3\xa9 \xc2\x9b \xff"};
    std::string text = host::screenText(host::renderFrame(frame), false);
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
    EXPECT_NE(text.find("w\\x1b]0;x\\x07"), std::string::npos) << text;
    EXPECT_NE(text.find("/dev/\\x9b2J"), std::string::npos) << text;
    EXPECT_NE(text.find("!! held by \\x1b[2J"), std::string::npos) << text;
    EXPECT_NE(text.find("text \\x1b[2J caf\xc3\xa9 \\xc2\\x9b \\xff"), std::string::npos) << "UTF-8 stays" << text;
}

TEST(HostLogCapture, ALineThatNeverEndsIsKeptInPieces) {
    host::LogCapture capture(8);
    int screen = -1;
    ASSERT_TRUE(capture.start(screen));
    std::string endless(3 * host::LogCapture::kLongestLine, 'x');
    ssize_t written = ::write(STDOUT_FILENO, endless.data(), endless.size());
    std::vector<std::string> lines;
    for (int i = 0; i < 100 && lines.size() < 3; ++i) {
        std::this_thread::sleep_for(10ms);
        lines = capture.latest();
    }
    capture.stop();
    EXPECT_EQ(written, static_cast<ssize_t>(endless.size()));
    ASSERT_EQ(lines.size(), 3u);
    for (const std::string& l : lines) EXPECT_LE(l.size(), host::LogCapture::kLongestLine);
}

TEST(HostRateMeter, RecordsPerSecondOverTheLastSecond) {
    host::RateMeter meter;
    auto t = host::RateMeter::Clock::time_point{} + 100s;
    EXPECT_EQ(meter.update(0, t), 0.0);
    EXPECT_EQ(meter.update(5, t + 100ms), 0.0) << "too short a span to tell";
    EXPECT_DOUBLE_EQ(meter.update(10, t + 500ms), 20.0);
    EXPECT_DOUBLE_EQ(meter.update(20, t + 1000ms), 20.0);
    // Old samples drop out: a silent second brings the rate down to 0.
    meter.update(20, t + 1600ms);
    EXPECT_DOUBLE_EQ(meter.update(20, t + 2700ms), 0.0);
}

TEST(HostPluginLogger, IsALoggerThePluginCanCopy) {
    host::LoggerSettings settings;
    settings.showDate = false;
    settings.showThreadId = false;
    settings.debugLevel = 3;
    settings.debugThreshold = 4;
    host::LoggerPtr logger = host::makePluginLogger(settings, std::string(150, 'n'));
    CLogH copy(*logger);
    EXPECT_FALSE(copy.showDate);
    EXPECT_TRUE(copy.showTime);
    EXPECT_FALSE(copy.showThreadId);
    EXPECT_TRUE(copy.enabled);
    EXPECT_EQ(std::string(copy.name), std::string(99, 'n'));
    EXPECT_STREQ(copy.errorTag, "ERROR");
    EXPECT_STREQ(copy.debugTag, "DEBUG");
    EXPECT_EQ(copy.debugThreshold, 4);
    EXPECT_EQ(copy.debugLevel, 3);
    copy.setOwnDebugLevel(3);
    EXPECT_TRUE(copy.isDebugOn());
    copy.setOwnDebugLevel(1);
    EXPECT_FALSE(copy.isDebugOn());
}

}  // namespace
