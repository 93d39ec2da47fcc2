#include "FrameWriter.h"
#include "JsonFeed.h"
#include "LogCapture.h"
#include "LogFold.h"
#include "PluginLogger.h"
#include "RateMeter.h"
#include "RecordJson.h"
#include "ScreenView.h"
#include "VisibleText.h"

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

#include <fcntl.h>
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

TEST(HostRecordJson, LostAndStaleMarksEndTheObject) {
    const quorlix_con_data con = controllerRecord({}, 0, 0);
    quorlix_tra_data tra;
    std::memset(&tra, 0, sizeof tra);
    const std::pair<std::string, std::string> endings[] = {
        {host::controllerJson("w", 1, con, true), "],\"line\":\"lost\"}"},
        {host::controllerJson("w", 1, con, true, true), "],\"line\":\"lost\",\"stale\":true}"},
        {host::controllerJson("w", 1, con, false, false), "0.000],\"stale\":false}"},
        {host::trackerJson("w", 1, tra, false, true), "\"roll\":0.00000},\"stale\":true}"},
        {host::trackerJson("w", 1, tra, true, true), "\"roll\":0.00000},\"line\":\"lost\",\"stale\":true}"},
        {host::trackerJson("w", 1, tra), "\"roll\":0.00000}}"},
    };
    for (const auto& e : endings)
        EXPECT_EQ(e.first.substr(e.first.size() - std::min(e.first.size(), e.second.size())), e.second) << e.first;
}

// Names from devices and storages as a terminal shows them and as JSON writes them.
TEST(HostText, NamesAreShownAsThemselvesOrEscaped) {
    struct Row {
        const char* what;
        std::string name, visible, json;
    };
    const Row rows[] = {
        {"UTF-8", "caf\xc3\xa9 \xc3\xbf \xf0\x9f\x98\x80", "caf\xc3\xa9 \xc3\xbf \xf0\x9f\x98\x80",
         "\"caf\xc3\xa9 \xc3\xbf \xf0\x9f\x98\x80\""},
        {"quotes and a line end", "a \"b\"\n", "a \"b\"\\x0a", "\"a \\\"b\\\"\\u000a\""},
        {"terminal control of eight bits", "\xc2\x9b" "2J", "\\xc2\\x9b2J", "\"\\u009b2J\""},
        {"bytes that are not UTF-8", "\xff \xe2\x80", "\\xff \\xe2\\x80", "\"\\ufffd \\ufffd\\ufffd\""},
        {"line and paragraph separators", "a\xe2\x80\xa8" "b\xe2\x80\xa9", "a\\xe2\\x80\\xa8b\\xe2\\x80\\xa9",
         "\"a\\u2028b\\u2029\""},
        {"byte order mark", "\xef\xbb\xbfwand", "\\xef\\xbb\\xbfwand", "\"\\ufeffwand\""},
        {"zero-width characters", "w\xe2\x80\x8b" "a\xe2\x80\x8d" "nd", "w\\xe2\\x80\\x8ba\\xe2\\x80\\x8dnd",
         "\"w\\u200ba\\u200dnd\""},
        {"direction marks, embeddings, overrides, isolates",
         "\xe2\x80\x8f\xe2\x80\xaa\xe2\x80\xae" "dnaw\xe2\x81\xa6\xe2\x81\xa9",
         "\\xe2\\x80\\x8f\\xe2\\x80\\xaa\\xe2\\x80\\xaednaw\\xe2\\x81\\xa6\\xe2\\x81\\xa9",
         "\"\\u200f\\u202a\\u202ednaw\\u2066\\u2069\""},
        {"tag beyond the first plane", "w\xf3\xa0\x81\x81", "w\\xf3\\xa0\\x81\\x81", "\"w\\udb40\\udc41\""},
        {"shown neighbours of those", "\xe2\x80\x8a\xe2\x80\xa7\xe2\x80\xb0\xe2\x81\xb0",
         "\xe2\x80\x8a\xe2\x80\xa7\xe2\x80\xb0\xe2\x81\xb0", "\"\xe2\x80\x8a\xe2\x80\xa7\xe2\x80\xb0\xe2\x81\xb0\""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(host::visibleText(r.name), r.visible);
        EXPECT_EQ(host::jsonString(r.name), r.json);
    }
}

// What a pipe holds now, read without waiting.
std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

TEST(HostJsonFeed, RecordsAReaderWasTooSlowForAreSaidWhereTheyWouldHaveBeen) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    host::JsonFeed feed(fds[1], 4);
    const std::string device = "wand";
    host::ChangeEvent event;
    event.device = &device;
    for (std::uint32_t n = 1; n <= 10; ++n) {
        event.entry = n;
        feed.changed(event);  // nothing takes them yet: the queue holds four
    }
    feed.start();
    ASSERT_TRUE(feed.stop(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
    const std::string text = drain(fds[0]);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
    EXPECT_NE(text.find("\"entry\":4,"), std::string::npos);
    EXPECT_EQ(text.find("\"entry\":5,"), std::string::npos);
    EXPECT_EQ(text.substr(text.rfind('{')), "{\"kind\":\"dropped\",\"records\":6}\n");
    EXPECT_EQ(feed.dropped(), 6u);
    close(fds[0]);
    close(fds[1]);
}

// A pipe that is full and never read: the writer gives up at its deadline.
TEST(HostFrameWriter, AWriteNobodyReadsEndsAtTheDeadline) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
    host::FrameWriter writer(fds[1], false, 4);
    for (int i = 0; i < 8; ++i) writer.put(std::string(4096, 'x'));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(writer.stop(started + std::chrono::milliseconds(200)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(writer.failure(), EAGAIN) << "given up, not failed by the reader";
    EXPECT_GE(writer.skipped(), 4u);
    close(fds[0]);
    close(fds[1]);
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
    // Redrawn in place; a terminal as tall as the frame gets no last line feed to scroll it.
    EXPECT_EQ(host::screenText({"a", "b"}, true), "\x1b[H\x1b[Ka\r\n\x1b[Kb\r\n\x1b[J");
    EXPECT_EQ(host::screenText({"a", "b"}, true, 3), "\x1b[H\x1b[Ka\r\n\x1b[Kb\r\n\x1b[J");
    EXPECT_EQ(host::screenText({"a", "b"}, true, 2), "\x1b[H\x1b[Ka\r\n\x1b[Kb");
}

// Two devices with a controller each and a tracker, and a full log.
host::ScreenFrame busyFrame(int width, int height) {
    host::ScreenFrame frame;
    frame.title = "quorlix-host 9.9   2 devices   storages private   Ctrl-C stops";
    frame.width = width;
    frame.height = height;
    for (const char* name : {"wand", "spare"}) {
        host::DeviceLine device;
        device.name = name;
        device.port = std::string("/dev/serial/by-id/usb-") + name + "-if00";
        device.state = "reconnecting (try 3, next in 2 s): Opening port /dev/ttyUSB1: No such file or directory";
        frame.devices.push_back(device);
        host::LiveModel::Entry entry;
        entry.device = name;
        entry.entry = static_cast<std::uint32_t>(frame.entries.size() + 1);
        entry.con = controllerRecord({2}, 0.5f, -0.25f);
        entry.lost = std::string(name) == "spare";
        frame.entries.push_back(entry);
    }
    host::LiveModel::Entry tracker;
    tracker.kind = host::ChangeEvent::Kind::tracker;
    tracker.device = "wand";
    tracker.entry = 1;
    frame.entries.push_back(tracker);
    for (int i = 1; i <= 8; ++i) frame.log.push_back("log line " + std::to_string(i) + " caf\xc3\xa9 " + std::string(80, '-'));
    return frame;
}

TEST(HostScreen, FramesFitTheTerminalAndNeverLoseTheDevices) {
    struct Case {
        int width, height;
        const char* deviceLine;  // how the first device's state begins
        std::size_t logLines;    // latest log lines shown
    };
    const Case cases[] = {
        {0, 0, "wand       /dev/serial/by-id/usb-wand-if00 reconnecting", 8},  // a stream: everything
        {120, 40, "wand       /dev/serial/by-id/usb-wand-if00 reconnecting", 8},
        {80, 24, "wand       /dev/serial/by-id/usb-wand-if00 reconnecting", 8},  // just fits
        {60, 14, "wand       reconnecting (try 3, next in 2 s)", 8},           // two lines per device
        {60, 10, "wand       reconnecting (try 3, next in 2 s)", 4},
        {40, 7, "wand       reconnecting (try 3, next in 2 s)", 3},            // one line per device
        {30, 3, "wand       reconnecting (try 3", 0},                          // the devices before the log
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        std::vector<std::string> lines = host::renderFrame(busyFrame(c.width, c.height));
        if (c.height > 0) {
            EXPECT_LE(lines.size(), static_cast<std::size_t>(c.height));
        }
        std::size_t log = 0, wand = 0, spare = 0, lost = 0;
        for (const std::string& l : lines) {
            if (c.width > 0) {
                EXPECT_LE(l.size(), static_cast<std::size_t>(c.width) + 1) << l;  // one two-byte é
            }
            log += l.rfind("log line", 0) == 0;
            wand += l.rfind("wand ", 0) == 0;
            spare += l.rfind("spare ", 0) == 0;
            lost += l.find("line lost") != std::string::npos;
        }
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[0].substr(0, 12), "quorlix-host") << "the title stays on top";
        EXPECT_EQ(wand, 1u);
        EXPECT_EQ(spare, 1u);
        const std::string layout = std::string(c.deviceLine).substr(0, c.width > 0 ? c.width : 999);
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(layout, 0) == 0; }))
            << "layout: " << layout;
        EXPECT_EQ(log, c.logLines);
        if (c.logLines > 0) {
            EXPECT_EQ(lines.back().substr(0, 10), "log line 8") << "the latest lines";
        }
        if (c.height == 0 || c.height >= 10) {
            EXPECT_EQ(lost, 1u) << "the lost line shows where there is room";
        }
    }
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
    for (int i = 0; i < 1000 && lines.size() < 3; ++i) {
        std::this_thread::sleep_for(10ms);
        lines = capture.latest();
    }
    capture.stop();
    EXPECT_EQ(written, static_cast<ssize_t>(endless.size()));
    ASSERT_EQ(lines.size(), 3u);
    for (const std::string& l : lines) EXPECT_LE(l.size(), host::LogCapture::kLongestLine);
}

TEST(HostLogFold, ADevicesReportShowsOnceAndEachLaterTryIsOneLine) {
    host::LogFold fold({"wand", "spare"});
    // Each input line, and what the pane shows of it ("-" for nothing).
    const std::pair<const char*, const char*> lines[] = {
        {"wand: INFO: DEVICE NAME           : wand", "wand: INFO: DEVICE NAME           : wand"},
        {"wand: ERROR: CRS232H: Opening port /dev/ttyUSB0: Permission denied", nullptr},
        {"quorlix-host: wand: init failed", "quorlix-host: wand: init failed"},
        {"quorlix-host: wand: reconnect try 1 in 0.5 s", "quorlix-host: wand: reconnect try 1 in 0.5 s"},
        {"wand: INFO: DEVICE NAME           : wand", "-"},
        {"spare: INFO: another device is not folded", "spare: INFO: another device is not folded"},
        {"Dec 08 14:02:03 wand[77]: ERROR: CRS232H: Opening port /dev/ttyUSB0: No such file or directory", "-"},
        {"quorlix-host: wand: init failed", "wand: reconnect try 1: Opening port /dev/ttyUSB0: No such file or directory"},
        {"quorlix-host: wand: reconnect try 2 in 1.0 s", "-"},
        {"wand: INFO: -----------------------", "-"},
        {"quorlix-host: wand: not started: the controllers lock is held by process 9 (reader)",
         "wand: reconnect try 2: not started: the controllers lock is held by process 9 (reader)"},
        {"quorlix-host: wand: reconnect try 3 in 2.0 s", "-"},
        {"quorlix-host: wand: reconnected on try 3", "quorlix-host: wand: reconnected on try 3"},
        {"wand: INFO: running again", "wand: INFO: running again"},
        {"wanderer: ERROR: a name that only begins like a device's", "wanderer: ERROR: a name that only begins like a device's"},
    };
    for (const auto& line : lines) {
        std::string shown;
        bool passed = fold.pass(line.first, shown);
        if (line.second == nullptr) continue;
        EXPECT_EQ(passed ? shown : "-", line.second) << line.first;
    }
    EXPECT_EQ(fold.lastError("wand"), "") << "a device that connected again has no reason to show";
    EXPECT_EQ(fold.lastError("spare"), "");
    std::string shown;
    fold.pass("spare: ERROR: CQuorlix: Reading a byte failed.", shown);
    EXPECT_EQ(fold.lastError("spare"), "Reading a byte failed.");
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
