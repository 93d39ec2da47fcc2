// quorlix-host publishing over OSC and mirroring, as a cluster runs them: the
// real programs, liblo's oscdump, the Python example and the C reader.
#include "ChildProcess.h"
#include "OscRig.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <lo/lo.h>

#include <algorithm>
#include <csignal>
#include <regex>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string kHost = QUORLIX_HOST_PATH;
// The tracker emulated from the valuators, as in the demo.
const std::string kTracker = "emulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0 6\n";
const std::string kSim = QUORLIX_SIM_PATH;

std::chrono::milliseconds limit(std::chrono::milliseconds native) { return underEmulator() ? native * 4 : native; }
int limitMs(std::chrono::milliseconds native) { return static_cast<int>(limit(native).count()); }

// `host` lines come before the device, `extra` are the device's options.
std::string wandConfig(const std::string& port, const std::string& extra = "", const std::string& host = "") {
    return "showdate off\nshowtime off\nshowthreadid off\n" + host + "device wand quorlix\nserialport " + port + "\n" +
           extra;
}

std::vector<std::string> simCommand(const TempDir& dir, const std::string& script) {
    return {kSim, "--link", dir.path() + "/wand", "--stay", "--quiet", "-e", script};
}

// The values of the lines of `lines` at `address`, in order, without repeats
// (keyframes send the state again every second).
std::vector<std::string> valuesAt(const std::vector<std::string>& lines, const std::string& address) {
    std::vector<std::string> values;
    std::regex line("[0-9a-f]{8}\\.[0-9a-f]{8} " + address + " s[if]+ \"wand\" 1 (.*)");
    for (const std::string& l : lines) {
        std::smatch m;
        if (std::regex_match(l, m, line) && (values.empty() || values.back() != m[1].str())) values.push_back(m[1]);
    }
    return values;
}

TEST(HostOsc, OscdumpFollowsAScriptedPressReleaseAndRamp) {
    TempDir dir;
    const int port = freeUdpPort();
    ChildProcess dump({"oscdump", "-L", std::to_string(port)});
    ChildProcess sim(simCommand(dir, "press 1; wait 200ms; release; wait 200ms; hold 10 for 450ms; wait 900ms"));
    ASSERT_TRUE(sim.waitForLines(1, limit(5s))) << sim.errorText();
    const std::string config = dir.file("wand.conf", wandConfig(dir.path() + "/wand", "valrate 0.25\n" + kTracker));
    ChildProcess host({kHost, config, "--json", "--osc", udpUrl(port)});
    ASSERT_TRUE(dump.waitForOutput(
        [](const std::vector<std::string>& lines) {
            std::vector<std::string> v = valuesAt(lines, "/quorlix/controller/valuators");
            return !v.empty() && v.back() == "0.000000 0.000000" && v.size() > 2;
        },
        limit(10s)))
        << dump.outputText() << host.errorText();

    const std::string released = "0 0 0 0 0 0 0 0 0 0 0";
    std::vector<std::string> buttons = valuesAt(dump.lines(), "/quorlix/controller/buttons");
    if (!buttons.empty() && buttons.front() == released) buttons.erase(buttons.begin());  // before the first record
    EXPECT_EQ(buttons, (std::vector<std::string>{"1 0 0 0 0 0 0 0 0 0 0", released, "0 0 0 0 0 0 0 0 0 1 0", released}));
    // Up by 0.25 a call while 10 is held, back down by 0.5 (twice the rate) after.
    std::vector<std::string> valuators = valuesAt(dump.lines(), "/quorlix/controller/valuators");
    EXPECT_GE(valuators.size(), 4u) << dump.outputText();
    EXPECT_EQ(valuators.front(), "0.000000 0.000000");
    EXPECT_EQ(valuators.back(), "0.000000 0.000000");
    EXPECT_TRUE(std::find(valuators.begin(), valuators.end(), "0.250000 0.000000") != valuators.end())
        << dump.outputText();
    EXPECT_TRUE(std::find(valuators.begin(), valuators.end(), "1.000000 0.000000") != valuators.end())
        << dump.outputText();
    // x in feet moves while valuator 1 is up; the angles stay.
    std::vector<std::string> poses = valuesAt(dump.lines(), "/quorlix/tracker/pose");
    ASSERT_GE(poses.size(), 2u) << dump.outputText();
    EXPECT_GT(std::stod(poses.back()), 0.0) << poses.back();
    EXPECT_NE(poses.back().find(" 0.000000 0.000000 0.000000 0.000000 0.000000"), std::string::npos) << poses.back();

    // Each bundle opens with the record as stored for mirrors, 184 or 56
    // bytes, numbered in the order sent.
    std::regex record("[0-9a-f]{8}\\.[0-9a-f]{8} /quorlix/(controller|tracker) siibi \"wand\" 1 ([0-9]+) "
                      "\\[([0-9]+) byte blob\\] 0");
    long previous = -1;
    for (const std::string& line : dump.lines()) {
        std::smatch m;
        if (!std::regex_match(line, m, record)) continue;
        EXPECT_EQ(m[3].str(), m[1].str() == "controller" ? "184" : "56") << line;
        EXPECT_GT(std::stol(m[2].str()), previous) << line;
        previous = std::stol(m[2].str());
    }
    EXPECT_GT(previous, 5);

    // The press's bundle carries the press record's own time stamp.
    std::smatch json, tag;
    std::string pressJson, pressTag;
    for (const std::string& l : host.lines())
        if (l.find("\"buttons\":[1,0,0,0,0,0,0,0,0,0,0]") != std::string::npos) pressJson = l;
    for (const std::string& l : dump.lines())
        if (l.find("/quorlix/controller/buttons siiiiiiiiiiii \"wand\" 1 1 0 0") != std::string::npos && pressTag.empty())
            pressTag = l;
    ASSERT_TRUE(std::regex_search(pressJson, json, std::regex("\"time\":([0-9]+)\\.([0-9]{6})"))) << pressJson;
    ASSERT_TRUE(std::regex_search(pressTag, tag, std::regex("^([0-9a-f]{8})\\.([0-9a-f]{8})"))) << pressTag;
    EXPECT_EQ(std::stoul(tag[1].str(), nullptr, 16), std::stoul(json[1].str()) + 2208988800ul);
    EXPECT_NEAR(static_cast<double>(std::stoul(tag[2].str(), nullptr, 16)) / 4294967296.0 * 1e6,
                std::stod(json[2].str()), 1.0);
    host.signal(SIGTERM);
    EXPECT_EQ(host.wait(limit(3s)), 0);
}

// Sends one controller record of `size` bytes, as a faulty sender would.
void sendRecord(int port, std::size_t size) {
    std::vector<unsigned char> bytes(size, 0x5A);
    lo_blob blob = lo_blob_new(static_cast<std::int32_t>(size), bytes.data());
    lo_address to = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    lo_send(to, "/quorlix/controller", "siibi", "wand", 1, 1000, blob, 0);
    lo_address_free(to);
    lo_blob_free(blob);
}

TEST(HostOsc, AMirrorServesWatchAndTheReaderAsTheMasterDoes) {
    TempDir dir;
    const int port = freeUdpPort();
    const std::string master = "quorlix-osc-master-" + std::to_string(getpid());
    const std::string node = "quorlix-osc-node-" + std::to_string(getpid());
    ChildProcess mirror({kHost, "mirror", "--listen", std::to_string(port), "--shm", node, "--from", "localhost"});
    ASSERT_TRUE(mirror.waitForErrorText("listening on", limit(5s))) << mirror.errorText();
    ChildProcess sim(simCommand(dir, "press 2 3; wait 300ms; release 3; wait 300ms; hold 11 for 300ms; release 2"));
    ASSERT_TRUE(sim.waitForLines(1, limit(5s)));
    const std::string config = dir.file(
        "wand.conf", wandConfig(dir.path() + "/wand", "valrate 0.1\nemulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0 6\n",
                                "osc " + udpUrl(port) + "\n"));
    ChildProcess host({kHost, config, "--no-view", "--shm", master});
    ASSERT_TRUE(host.waitForErrorText("-----------------------", limit(10s))) << host.errorText();
    ASSERT_TRUE(sim.waitForLine([](const std::string& l) { return l.find("done") != std::string::npos; }, limit(10s)));

    auto once = [](const std::vector<std::string>& args) {
        ChildProcess p(args);
        p.wait(limit(5s));
        return p.outputText() + p.errorText();
    };
    // The script is over, but the valuator's ramp back moves the tracker a
    // few reads more (one each 100 ms while the line is silent): compared once
    // the master has stood still for longer than that and its last changes
    // (or the next keyframe) have crossed.
    std::string onMaster;
    EXPECT_TRUE(eventually(
        [&] {
            const std::string before = once({kHost, "watch", "--shm", master, "--once", "--json"});
            std::this_thread::sleep_for(500ms);
            const std::string onNode = once({kHost, "watch", "--shm", node, "--once", "--json"});
            onMaster = once({kHost, "watch", "--shm", master, "--once", "--json"});
            return onMaster.find("\"kind\":\"tracker\"") != std::string::npos && before == onMaster &&
                   onNode == onMaster;
        },
        static_cast<int>(limit(20000ms).count())));
    EXPECT_NE(onMaster.find("\"kind\":\"tracker\""), std::string::npos) << onMaster;
    EXPECT_EQ(once({kHost, "watch", "--shm", node, "--once", "--json"}), onMaster);
    EXPECT_EQ(once({QUORLIX_SHM_READER_PATH, node}), once({QUORLIX_SHM_READER_PATH, master}));

    // A record of the wrong size is dropped; the last good one stays.
    sendRecord(port, 183);
    EXPECT_TRUE(mirror.waitForErrorText("datagrams dropped so far: 1 bad (the last from 127.0.0.1:", limit(2s)))
        << mirror.errorText();
    EXPECT_TRUE(mirror.waitForErrorText("a record of the wrong size)\n", limit(2s)))
        << mirror.errorText();
    EXPECT_EQ(once({kHost, "watch", "--shm", node, "--once", "--json"}), onMaster);

    // The master stops and says goodbye: the node releases at once what it
    // published, as the master's own lost line would, and is stale; a
    // master that is back makes it current.
    ChildProcess following({kHost, "watch", "--shm", node, "--json"});
    ASSERT_TRUE(following.waitForLines(1, limit(5s))) << following.errorText();
    host.signal(SIGTERM);
    EXPECT_EQ(host.wait(limit(3s)), 0);
    EXPECT_TRUE(mirror.waitForErrorText("said goodbye (it stopped): its buttons are released", limit(5s)))
        << mirror.errorText();
    const std::string stale = once({kHost, "watch", "--shm", node, "--once", "--json"});
    EXPECT_NE(stale.find("stale: the mirror follows no host now"), std::string::npos) << stale;
    EXPECT_NE(stale.find("\"buttons\":[0,0,0,0,0,0,0,0,0,0,0],\"valuators\":[0.000,0.000],\"line\":\"lost\","
                         "\"stale\":true}"),
              std::string::npos)
        << stale;
    EXPECT_TRUE(following.waitForLine(
        [](const std::string& l) { return l.find("\"kind\":\"tracker\"") != std::string::npos &&
                                          l.find("\"stale\":true}") != std::string::npos; },
        limit(5s)))
        << following.outputText();
    ChildProcess again({kHost, config, "--no-view"});
    EXPECT_TRUE(eventually(
        [&] {
            const std::string text = mirror.errorText();
            return text.find("the storages are current", text.find("marked stale")) != std::string::npos;
        },
        static_cast<int>(limit(5000ms).count())))
        << mirror.errorText();

    mirror.signal(SIGTERM);
    EXPECT_EQ(mirror.wait(limit(3s)), 0);
    EXPECT_TRUE(std::regex_search(mirror.errorText(), std::regex("mirror: current, [0-9]+ records \\([0-9]+ written\\), "
                                                                 "[0-9]+ keyframes \\([0-9]+ incomplete\\), 0 lost, 1 bad, "
                                                                 "[0-9]+ from senders not followed, 0 from hosts other "
                                                                 "than localhost")))
        << mirror.errorText();
}

TEST(HostOsc, AMirrorReleasesWhatAKilledMasterHeld) {
    TempDir dir;
    const int port = freeUdpPort();
    const std::string node = "quorlix-osc-killed-" + std::to_string(getpid());
    ChildProcess mirror({kHost, "mirror", "--listen", std::to_string(port), "--shm", node});
    ASSERT_TRUE(mirror.waitForErrorText("listening on", limit(5s))) << mirror.errorText();
    ChildProcess sim(simCommand(dir, "press 2 7"));
    ASSERT_TRUE(sim.waitForLines(1, limit(5s)));
    const std::string config =
        dir.file("wand.conf", wandConfig(dir.path() + "/wand", "", "osc " + udpUrl(port) + "\n"));
    ChildProcess host({kHost, config, "--no-view"});
    auto watched = [&] {
        ChildProcess watch({kHost, "watch", "--shm", node, "--once", "--json"});
        watch.wait(limit(5s));
        return watch.outputText();
    };
    const std::string held = "\"buttons\":[0,1,0,0,0,0,1,0,0,0,0]";
    ASSERT_TRUE(eventually([&] { return watched().find(held) != std::string::npos; }, limitMs(10000ms)))
        << mirror.errorText();

    // Killed, it says nothing: after its silence the node releases both.
    host.signal(SIGKILL);
    host.wait(limit(3s));
    EXPECT_TRUE(mirror.waitForErrorText("for 3 s: its buttons are released", limit(10s))) << mirror.errorText();
    const std::string released = watched();
    EXPECT_NE(released.find("\"buttons\":[0,0,0,0,0,0,0,0,0,0,0],\"valuators\":[0.000,0.000],\"line\":\"lost\""),
              std::string::npos)
        << released;
    mirror.signal(SIGTERM);
    EXPECT_EQ(mirror.wait(limit(3s)), 0);
}

TEST(HostOsc, AMulticastGroupReachesEveryMirrorInIt) {
    TempDir dir;
    const std::string group = "osc.udp://239.255.42.99:" + std::to_string(freeUdpPort()) + "/";
    // Whether this machine delivers a group's datagrams to its own members at all.
    {
        lo_server probe = lo_server_new_from_url(group.c_str(), nullptr);
        bool delivered = false;
        if (probe != nullptr) {
            lo_server_add_method(probe, nullptr, nullptr,
                                 [](const char*, const char*, lo_arg**, int, lo_message, void* seen) {
                                     *static_cast<bool*>(seen) = true;
                                     return 0;
                                 },
                                 &delivered);
            lo_address to = lo_address_new_from_url(group.c_str());
            lo_send(to, "/probe", "i", 1);
            lo_address_free(to);
            for (int i = 0; i < 10 && !delivered; ++i) lo_server_recv_noblock(probe, 50);
            lo_server_free(probe);
        }
        if (!delivered)
            GTEST_SKIP() << "this machine does not deliver multicast to members of a group on it (no multicast "
                            "route or interface)";
    }
    const std::string node1 = "quorlix-osc-group1-" + std::to_string(getpid());
    const std::string node2 = "quorlix-osc-group2-" + std::to_string(getpid());
    ChildProcess mirror1({kHost, "mirror", "--listen", group, "--shm", node1});
    ChildProcess mirror2({kHost, "mirror", "--listen", group, "--shm", node2});
    ASSERT_TRUE(mirror1.waitForErrorText("listening on", limit(5s))) << mirror1.errorText();
    ASSERT_TRUE(mirror2.waitForErrorText("listening on", limit(5s))) << mirror2.errorText();
    ChildProcess sim(simCommand(dir, "press 4; wait 2s"));
    ASSERT_TRUE(sim.waitForLines(1, limit(5s)));
    ChildProcess host({kHost, dir.file("wand.conf", wandConfig(dir.path() + "/wand")), "--no-view", "--osc", group,
                       "--osc-ttl", "1"});
    EXPECT_TRUE(mirror1.waitForErrorText("the storages are current", limit(5s))) << mirror1.errorText();
    EXPECT_TRUE(mirror2.waitForErrorText("the storages are current", limit(5s))) << mirror2.errorText();
    ChildProcess watch({kHost, "watch", "--shm", node2, "--json"});
    EXPECT_TRUE(watch.waitForLine([](const std::string& l) { return l.find("\"buttons\":[0,0,0,1,0") != std::string::npos; },
                                  limit(5s)))
        << watch.outputText() << watch.errorText();
    // Stopped, not killed, so that each takes its shared memory away.
    for (ChildProcess* p : {&host, &mirror1, &mirror2}) {
        p->signal(SIGTERM);
        EXPECT_EQ(p->wait(limit(3s)), 0) << p->errorText();
    }
}

TEST(HostOsc, ThePythonExamplePrintsTheWand) {
    TempDir dir;
    const int port = freeUdpPort();
    ChildProcess client({"/usr/bin/python3", QUORLIX_OSC_CLIENT_PATH, std::to_string(port)});
    ASSERT_TRUE(client.waitForLine([](const std::string& l) { return l.find("listening on") == 0; }, limit(5s)))
        << client.errorText();
    ChildProcess sim(simCommand(dir, "press 2; wait 300ms; release"));
    ASSERT_TRUE(sim.waitForLines(1, limit(5s)));
    ChildProcess host({kHost, dir.file("wand.conf", wandConfig(dir.path() + "/wand")), "--no-view", "--osc",
                       udpUrl(port)});
    EXPECT_TRUE(client.waitForOutput(
        [](const std::vector<std::string>& lines) {
            const std::vector<std::string> expected = {"wand 1 buttons: 0 1 0 0 0 0 0 0 0 0 0",
                                                       "wand 1 buttons: 0 0 0 0 0 0 0 0 0 0 0"};
            std::size_t next = 0;
            for (const std::string& l : lines)
                if (next < expected.size() && l == expected[next]) ++next;
            return next == expected.size();
        },
        limit(10s)))
        << client.outputText() << client.errorText();
    EXPECT_NE(client.outputText().find("wand 1 valuators: +0.000 +0.000"), std::string::npos);
    host.signal(SIGTERM);
    EXPECT_EQ(host.wait(limit(3s)), 0);
}

}  // namespace
