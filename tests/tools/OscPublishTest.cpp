// What a host publishes over OSC, as liblo's own oscdump receives it.
#include "ChildProcess.h"
#include "OscRig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

namespace {

using namespace std::chrono_literals;

// oscdump's time tag for a record stamped 1700000000 s and `usec`.
std::string timeTag(int usec) {
    char text[32];
    std::snprintf(text, sizeof text, "%08x.%08x", 1700000000u + 2208988800u,
                  static_cast<unsigned>((static_cast<std::uint64_t>(usec) << 32) / 1000000u));
    return text;
}

// True when `expected` occur in `lines` in this order (keyframes may repeat
// records in between).
bool inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    std::size_t next = 0;
    for (const std::string& line : lines)
        if (next < expected.size() && line == expected[next]) ++next;
    return next == expected.size();
}

TEST(OscPublish, OscdumpSeesOneBundlePerChangeTimeTaggedWithTheRecord) {
    const int port = freeUdpPort();
    ChildProcess dump({"oscdump", "-L", std::to_string(port)});
    OscMaster master("", {udpUrl(port)});
    ASSERT_TRUE(master.error.empty()) << master.error;
    // The first keyframe goes out at once and again every second: then oscdump listens.
    ASSERT_TRUE(dump.waitForLine([](const std::string& l) { return l.find("/quorlix/keyframe") != std::string::npos; },
                                 5000ms))
        << dump.errorText();

    master.putController(1, controllerRecord({1}, 0, 0, 100));           // press
    master.putController(1, controllerRecord({}, 0, 0, 200));            // release
    master.putController(1, controllerRecord({}, 0.5f, -0.25f, 300));    // ramp
    master.putController(1, controllerRecord({8, 11}, 1.0f, -1.0f, 400)); // both ends
    master.putTracker(1, trackerRecord(1.5f, -90.0f, 500));
    const std::vector<std::string> expected = {
        timeTag(100) + " /quorlix/controller/buttons siiiiiiiiiiii \"wand\" 1 1 0 0 0 0 0 0 0 0 0 0",
        timeTag(100) + " /quorlix/controller/valuators siff \"wand\" 1 0.000000 0.000000",
        timeTag(200) + " /quorlix/controller/buttons siiiiiiiiiiii \"wand\" 1 0 0 0 0 0 0 0 0 0 0 0",
        timeTag(300) + " /quorlix/controller/valuators siff \"wand\" 1 0.500000 -0.250000",
        timeTag(400) + " /quorlix/controller/buttons siiiiiiiiiiii \"wand\" 1 0 0 0 0 0 0 0 1 0 0 1",
        timeTag(400) + " /quorlix/controller/valuators siff \"wand\" 1 1.000000 -1.000000",
        timeTag(500) + " /quorlix/tracker/pose siffffff \"wand\" 1 1.500000 0.000000 0.000000 -90.000000 0.000000 "
                       "0.000000",
    };
    EXPECT_TRUE(dump.waitForOutput([&](const std::vector<std::string>& lines) { return inOrder(lines, expected); },
                                   5000ms))
        << dump.outputText();

    // Each bundle opens with the record as stored, for mirrors: 184 or 56
    // bytes, after the device, the entry and a sequence number that counts up.
    std::regex record("[0-9a-f]{8}\\.[0-9a-f]{8} /quorlix/(controller|tracker) siibi \"wand\" 1 ([0-9]+) \\[([0-9]+) byte blob\\] 0");
    long previous = -1;
    int records = 0;
    for (const std::string& line : dump.lines()) {
        std::smatch m;
        if (!std::regex_match(line, m, record)) continue;
        ++records;
        EXPECT_EQ(m[3].str(), m[1].str() == "controller" ? "184" : "56") << line;
        EXPECT_GT(std::stol(m[2].str()), previous) << line;
        previous = std::stol(m[2].str());
    }
    EXPECT_GE(records, 5);
}

TEST(OscPublish, UnusableTargetsAreRefusedAndFailedSendsCounted) {
    std::string error;
    auto storages = host::SharedStorages::create("", host::LoggerSettings{}, error);
    ASSERT_TRUE(storages) << error;
    const struct {
        std::string url;
        int ttl;
        const char* message;
    } refused[] = {
        {"render1:7770", 0, "--osc render1:7770: not an OSC URL over UDP"},
        {"osc.tcp://render1:7770/", 0, "not an OSC URL over UDP"},
        {"osc.udp://render1/", 0, "--osc osc.udp://render1/: needs a host and a port"},
        {"osc.udp://239.255.42.1:7770/", 256, "--osc-ttl 256: a multicast TTL is 1 to 255"},
    };
    for (const auto& c : refused) {
        host::OscSettings settings;
        settings.receivers = {{c.url}};
        settings.ttl = c.ttl;
        error.clear();
        EXPECT_FALSE(host::OscPublisher::create(settings, *storages, error)) << c.url;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }

    // A receiver that cannot be reached costs a count, not the publisher.
    host::OscSettings settings;
    settings.receivers = {{"osc.udp://no-such-host.invalid:7770/"}};
    auto publisher = host::OscPublisher::create(settings, *storages, error);
    ASSERT_TRUE(publisher) << error;
    publisher->start();
    EXPECT_TRUE(eventually([&] { return publisher->sendFailures() > 0; }, 5000));
    EXPECT_NE(publisher->status().find("last failure osc.udp://no-such-host.invalid:7770/: "), std::string::npos)
        << publisher->status();
}

TEST(OscPublish, AFullQueueDropsAndCountsInsteadOfWaiting) {
    host::ChangeQueue queue(2);
    host::PublishedRecord record;
    EXPECT_TRUE(queue.push(record));
    EXPECT_TRUE(queue.push(record));
    EXPECT_FALSE(queue.push(record));
    EXPECT_EQ(queue.dropped(), 1u);
    std::vector<host::PublishedRecord> taken;
    queue.takeAll(taken, std::chrono::steady_clock::now());
    EXPECT_EQ(taken.size(), 2u);
    EXPECT_TRUE(queue.push(record)) << "room again once the sender took them";
}

}  // namespace
