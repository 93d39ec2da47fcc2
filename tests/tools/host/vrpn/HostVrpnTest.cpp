// quorlix-host as a VRPN server, as VRPN applications meet it: the real host
// and simulator, and a client of the tests' own on both ways in.
#include "ChildProcess.h"
#include "TempDir.h"
#include "VrpnTestClient.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <memory>
#include <regex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Message = VrpnTestClient::Message;

const std::string kHost = QUORLIX_HOST_PATH;
const std::string kSim = QUORLIX_SIM_PATH;

std::chrono::milliseconds limit(std::chrono::milliseconds native) { return underEmulator() ? native * 4 : native; }

std::string wandConfig(const std::string& port, const std::string& extra, const std::string& host = "") {
    return "showdate off\nshowtime off\nshowthreadid off\n" + host + "device wand quorlix\nserialport " + port + "\n" +
           extra;
}

std::size_t occurrences(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

bool named(const Message& m, const char* type) { return m.typeName == type && m.senderName == "wand"; }

// A host with one wand on a simulated line, serving VRPN on a free port of
// the loopback interface.
struct Rig {
    TempDir dir;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ChildProcess> host;
    int port = 0;

    Rig(const std::string& script, const std::string& extra = "", std::vector<std::string> flags = {},
        std::vector<std::string> simFlags = {}) {
        std::vector<std::string> simArgv = {kSim, "--link", dir.path() + "/wand", "--stay", "--quiet", "-e", script};
        simArgv.insert(simArgv.end(), simFlags.begin(), simFlags.end());
        sim.reset(new ChildProcess(simArgv));
        EXPECT_TRUE(sim->waitForLines(1, limit(5s))) << sim->errorText();
        const std::string config = dir.file("wand.conf", wandConfig(dir.path() + "/wand", extra, "vrpn 127.0.0.1:0\n"));
        std::vector<std::string> argv = {kHost, config, "--json"};
        argv.insert(argv.end(), flags.begin(), flags.end());
        host.reset(new ChildProcess(argv));
        EXPECT_TRUE(host->waitForErrorText("(TCP and UDP)", limit(5s))) << host->errorText();
        std::smatch m;
        const std::string text = host->errorText();
        if (std::regex_search(text, m, std::regex("VRPN: listening on 127.0.0.1, port ([0-9]+)")))
            port = std::stoi(m[1]);
        EXPECT_GT(port, 0) << text;
    }
    ~Rig() {
        if (host) host->stop();
        if (sim) sim->stop();
    }
};

TEST(HostVrpn, BothWaysInGreetWithTheCookieDescriptionsAndTheStateOfAHeldButton) {
    Rig rig("press 3", "emulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0 6\n");
    ASSERT_TRUE(rig.host->waitForLine([](const std::string& l) { return l.find("\"buttons\":[0,0,1,") != std::string::npos; },
                                      limit(5s)))
        << rig.host->errorText();
    const std::int64_t publishedUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count();

    for (bool back : {false, true}) {
        SCOPED_TRACE(back ? "called back after a UDP request" : "TCP to the port");
        VrpnTestClient client;
        std::string error;
        ASSERT_TRUE(back ? client.connectBack(rig.port, error, limit(10s)) : client.connectTcp(rig.port, error)) << error;
        client.greet();
        Message states, analog, pose;
        ASSERT_TRUE(client.waitFor([](const Message& m) { return named(m, "vrpn_Button States"); }, limit(5s), &states))
            << rig.host->errorText();
        EXPECT_EQ(client.cookie().substr(0, 19), "vrpn: ver. 07.35  0");
        EXPECT_EQ(client.cookie().size(), 24u);
        // Every button of the record, VRPN's button 2 being the wand's button 3.
        ASSERT_EQ(states.i32(0), 11);
        for (int b = 0; b < 11; ++b) EXPECT_EQ(states.i32(4 + 4 * b), b == 2 ? 1 : 0) << "button " << b;
        // The record's own time, from before the press was seen, not the connection's.
        EXPECT_LE(states.sec * 1000000LL + states.usec, publishedUs);
        EXPECT_GT(states.sec * 1000000LL + states.usec, publishedUs - 60000000LL);
        ASSERT_TRUE(client.waitFor([](const Message& m) { return named(m, "vrpn_Analog Channel"); }, limit(5s), &analog));
        EXPECT_EQ(analog.f64(0), 2.0);
        ASSERT_TRUE(client.waitFor([](const Message& m) { return named(m, "vrpn_Tracker Pos_Quat"); }, limit(5s), &pose));
        EXPECT_EQ(pose.i32(0), 0);
        EXPECT_EQ(pose.payload.size(), 64u);
        EXPECT_EQ(pose.f64(8 + 24 + 24), 1.0);  // w of the identity
        EXPECT_GT(pose.sec, 0) << "a pose its device never stamped carries the time it was first read";
        // The base class's ping is answered, so clients never warn of a silent server.
        client.ping();
        EXPECT_TRUE(client.waitFor([](const Message& m) { return named(m, "vrpn_Base pong_message"); }, limit(5s)));
    }
}

TEST(HostVrpn, ChangesButtonsValuatorsAndPosesComeAsTheyHappenWithTheirRecordsTime) {
    Rig rig("repeat 200 { press 1; wait 150ms; release; hold 10 for 300ms; wait 150ms }",
            "valrate 0.25\nemulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0 6\n");
    VrpnTestClient client;
    std::string error;
    ASSERT_TRUE(client.connectTcp(rig.port, error)) << error;
    client.greet();
    Message press, release, ramp, moved;
    ASSERT_TRUE(client.waitFor(
        [](const Message& m) { return named(m, "vrpn_Button Change") && m.i32(0) == 0 && m.i32(4) == 1; }, limit(5s),
        &press))
        << rig.host->errorText();
    ASSERT_TRUE(client.waitFor(
        [](const Message& m) { return named(m, "vrpn_Button Change") && m.i32(0) == 0 && m.i32(4) == 0; }, limit(5s),
        &release));
    EXPECT_GE(release.sec * 1000000LL + release.usec, press.sec * 1000000LL + press.usec + 100000)
        << "stamped when the wand's bytes came, 150 ms apart";
    ASSERT_TRUE(client.waitFor(
        [](const Message& m) { return named(m, "vrpn_Analog Channel") && m.f64(0) == 2 && m.f64(8) > 0.2; }, limit(5s),
        &ramp));
    EXPECT_LE(ramp.f64(8), 1.0);
    EXPECT_GE(ramp.f64(8), -1.0);
    ASSERT_TRUE(client.waitFor(
        [](const Message& m) { return named(m, "vrpn_Tracker Pos_Quat") && m.f64(8) != 0; }, limit(5s), &moved));
    EXPECT_EQ(moved.i32(0), 0) << "sensor 0 is tracker entry 1";
}

TEST(HostVrpn, PosesAreInMetresWithTheDocumentedQuaternion) {
    // Placed at (1, 2, 3) ft, azimuth 90, elevation 30, roll 0; nothing moves it.
    Rig rig("press 1", "emulatetracker 1 [1,2,3,90,30,0] 0 0 0 0 0 0\n");
    ASSERT_TRUE(rig.host->waitForLine([](const std::string& l) { return l.find("\"kind\":\"tracker\"") != std::string::npos; },
                                      limit(5s)))
        << rig.host->errorText();
    VrpnTestClient client;
    std::string error;
    ASSERT_TRUE(client.connectTcp(rig.port, error)) << error;
    client.greet();
    Message pose;
    ASSERT_TRUE(client.waitFor([](const Message& m) { return named(m, "vrpn_Tracker Pos_Quat"); }, limit(5s), &pose))
        << rig.host->errorText();
    EXPECT_NEAR(pose.f64(8), 0.3048, 1e-6);
    EXPECT_NEAR(pose.f64(16), 0.6096, 1e-6);
    EXPECT_NEAR(pose.f64(24), 0.9144, 1e-6);
    // Ry(90) Rx(30): (sin15 cos45, cos15 sin45, -sin15 sin45, cos15 cos45).
    const double s15 = std::sin(M_PI / 12), c15 = std::cos(M_PI / 12), h = std::sqrt(0.5);
    EXPECT_NEAR(pose.f64(32), s15 * h, 1e-5);
    EXPECT_NEAR(pose.f64(40), c15 * h, 1e-5);
    EXPECT_NEAR(pose.f64(48), -s15 * h, 1e-5);
    EXPECT_NEAR(pose.f64(56), c15 * h, 1e-5);
}

TEST(HostVrpn, ALostLineReleasesTheButtonsAndWarnsThenSaysItIsBack) {
    Rig rig("repeat 30 { press 2; wait 300ms; unplug; wait 700ms; plug; wait 600ms }");
    VrpnTestClient client;
    std::string error;
    ASSERT_TRUE(client.connectTcp(rig.port, error)) << error;
    client.greet();
    ASSERT_TRUE(client.waitFor(
        [](const Message& m) { return named(m, "vrpn_Button Change") && m.i32(0) == 1 && m.i32(4) == 1; }, limit(10s)))
        << rig.host->errorText();
    Message released, warning, back;
    ASSERT_TRUE(client.waitFor(
        [](const Message& m) { return named(m, "vrpn_Button Change") && m.i32(0) == 1 && m.i32(4) == 0; }, limit(10s),
        &released));
    ASSERT_TRUE(client.waitFor([](const Message& m) { return named(m, "vrpn_Base text_message"); }, limit(5s), &warning));
    EXPECT_EQ(warning.i32(0), 1) << "warning";
    EXPECT_EQ(warning.payload.size(), 8u + 1024u);
    EXPECT_NE(warning.payload.find("line lost"), std::string::npos);
    ASSERT_TRUE(client.waitFor([](const Message& m) { return named(m, "vrpn_Base text_message"); }, limit(10s), &back));
    EXPECT_EQ(back.i32(0), 0);
    EXPECT_NE(back.payload.find("line back"), std::string::npos);
}

TEST(HostVrpn, ASlowSilentOrGarbledClientIsDroppedWithOneLineAndTheOthersGoOn) {
    // Twelve times the line's rate: a client that reads keeps up with ease.
    Rig rig("repeat 1000000 { press 1; release }", "", {}, {"--pace", "115200"});
    // Takes almost nothing into its socket, then stops reading.
    const int slow = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 2048;
    setsockopt(slow, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(rig.port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(slow, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string cookie = VrpnTestClient::cookieText();
    ASSERT_EQ(send(slow, cookie.data(), cookie.size(), 0), static_cast<ssize_t>(cookie.size()));
    // One that never greets, and a good one.
    VrpnTestClient silent, good;
    std::string error;
    ASSERT_TRUE(silent.connectTcp(rig.port, error)) << error;
    ASSERT_TRUE(good.connectTcp(rig.port, error)) << error;
    good.greet();

    struct Garbage {
        const char* what;
        std::string bytes;
        const char* said;
    };
    const std::string header = VrpnTestClient::u32(0x7fffffff) + std::string(20, '\0');
    const std::vector<Garbage> garbage = {
        {"an HTTP request", "GET / HTTP/1.1\r\nHost: cave\r\n\r\n", "not a VRPN 07 cookie"},
        {"an older VRPN", "vrpn: ver. 06.04  0" + std::string(5, '\0'), "not a VRPN 07 cookie"},
        {"an absurd length", cookie + header, "a message of 2147483647 bytes"},
        {"a name longer than its message",
         cookie + VrpnTestClient::u32(24 + 8) + std::string(8, '\0') + VrpnTestClient::u32(0) +
             VrpnTestClient::u32(0xffffffffu) + VrpnTestClient::u32(0) + VrpnTestClient::u32(500) + "wand" +
             std::string(4, '\0'),
         "a description with a name of 500 bytes"},
    };
    std::size_t changes = 0;
    auto readOn = [&] { changes += good.countFor([](const Message& m) { return named(m, "vrpn_Button Change"); }, 20ms); };
    for (const Garbage& g : garbage) {
        SCOPED_TRACE(g.what);
        VrpnTestClient bad;
        ASSERT_TRUE(bad.connectTcp(rig.port, error)) << error;
        bad.sendRaw(g.bytes);
        EXPECT_TRUE(bad.waitForClose(limit(5s)));
        EXPECT_TRUE(rig.host->waitForErrorText(g.said, limit(5s))) << rig.host->errorText();
        readOn();
    }
    // The good one reads on all along, or it would stop reading too.
    bool silentGone = false, slowGone = false;
    const auto end = std::chrono::steady_clock::now() + limit(60s);
    while (!(silentGone && slowGone) && std::chrono::steady_clock::now() < end) {
        readOn();
        silentGone = silentGone || silent.waitForClose(1ms);
        slowGone = slowGone || rig.host->errorText().find("dropped: it stopped reading") != std::string::npos;
    }
    EXPECT_TRUE(silentGone);
    EXPECT_TRUE(slowGone) << rig.host->errorText();
    close(slow);
    EXPECT_GT(changes, 100u);
    const std::size_t before = changes;
    readOn();
    while (changes == before && std::chrono::steady_clock::now() < end) readOn();
    EXPECT_GT(changes, before) << "the good client still hears every change";
    // One line each.
    const std::string log = rig.host->errorText();
    for (const char* once : {"stopped reading", "no VRPN greeting within 10 s", "2147483647 bytes", "name of 500 bytes"})
        EXPECT_EQ(occurrences(log, once), 1u) << once << "\n" << log;
    EXPECT_TRUE(rig.host->running());
}

TEST(HostVrpn, ThirtyTwoClientsAtOnceEachHearTheChanges) {
    Rig rig("repeat 100000 { press 4; wait 20ms; release; wait 20ms }");
    std::vector<std::unique_ptr<VrpnTestClient>> clients;
    for (int i = 0; i < 32; ++i) {
        clients.emplace_back(new VrpnTestClient);
        std::string error;
        const bool back = i % 8 == 7;  // some as stock clients come, most by TCP
        ASSERT_TRUE(back ? clients.back()->connectBack(rig.port, error, limit(10s)) : clients.back()->connectTcp(rig.port, error))
            << i << ": " << error;
        clients.back()->greet();
    }
    for (std::size_t i = 0; i < clients.size(); ++i)
        EXPECT_TRUE(clients[i]->waitFor(
            [](const Message& m) { return named(m, "vrpn_Button Change") && m.i32(0) == 3; }, limit(10s)))
            << "client " << i;
    rig.host->signal(SIGTERM);
    EXPECT_EQ(rig.host->wait(limit(5s)), 0);
    EXPECT_NE(rig.host->errorText().find("VRPN: 32 clients served, 0 dropped"), std::string::npos) << rig.host->errorText();
}

int freeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    close(fd);
    return ntohs(a.sin_port);
}

TEST(HostVrpn, ARenderNodesMirrorServesWhatItMirrors) {
    const int osc = freeUdpPort();
    const std::string shm = "quorlix-vrpn-mirror-" + std::to_string(getpid());
    ChildProcess mirror({kHost, "mirror", "--listen", std::to_string(osc), "--shm", shm, "--vrpn", "127.0.0.1:0"});
    ASSERT_TRUE(mirror.waitForErrorText("(TCP and UDP)", limit(5s))) << mirror.errorText();
    std::smatch m;
    const std::string text = mirror.errorText();
    ASSERT_TRUE(std::regex_search(text, m, std::regex("VRPN: listening on 127.0.0.1, port ([0-9]+)"))) << text;
    Rig rig("repeat 1000 { press 5; wait 100ms; release; wait 100ms }", "",
            {"--osc", "osc.udp://127.0.0.1:" + std::to_string(osc) + "/"});

    VrpnTestClient client;
    std::string error;
    ASSERT_TRUE(client.connectTcp(std::stoi(m[1]), error)) << error;
    client.greet();
    for (int state : {1, 0})
        EXPECT_TRUE(client.waitFor(
            [state](const Message& msg) {
                return named(msg, "vrpn_Button Change") && msg.i32(0) == 4 && msg.i32(4) == state;
            },
            limit(10s)))
            << mirror.errorText();
    // The host goes: the mirror releases everything and says the line is lost.
    rig.host->signal(SIGTERM);
    EXPECT_TRUE(client.waitFor(
        [](const Message& msg) { return named(msg, "vrpn_Base text_message") && msg.i32(0) == 1; }, limit(10s)))
        << mirror.errorText();
    mirror.signal(SIGTERM);
    EXPECT_EQ(mirror.wait(limit(5s)), 0);
    EXPECT_NE(mirror.errorText().find("mirror: VRPN: 1 client served"), std::string::npos) << mirror.errorText();
}

TEST(HostVrpn, AnAddressThatCannotServeIsAFaultBeforeAnythingStarts) {
    TempDir dir;
    // A port another program has.
    const int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(taken, 1);
    socklen_t size = sizeof a;
    getsockname(taken, reinterpret_cast<sockaddr*>(&a), &size);
    const std::string takenPort = std::to_string(ntohs(a.sin_port));

    struct Case {
        std::vector<std::string> args;
        std::string said;
    };
    const std::string conf = dir.file("bad.conf", wandConfig(dir.path() + "/nowhere", "", "vrpn 127.0.0.1:99999\n"));
    const std::string good = dir.file("good.conf", wandConfig(dir.path() + "/nowhere", ""));
    const std::vector<Case> cases = {
        {{good, "--vrpn", "70000"}, "--vrpn \"70000\": the port is a number from 1 to 65535"},
        {{good, "--vrpn", "127.0.0.1:" + takenPort}, "--vrpn: 127.0.0.1, port " + takenPort + ": TCP: Address already in use"},
        {{good, "--vrpn", "192.0.2.1:3883"}, "--vrpn: 192.0.2.1, port 3883: TCP: Cannot assign requested address"},
        {{good, "--vrpn", "cave_host:1"}, "is not an IPv4 address or a host name"},
        {{conf}, "bad.conf:4: vrpn takes [[ADDR:]PORT]"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {kHost, "--no-view"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ChildProcess host(argv);
        EXPECT_EQ(host.wait(limit(5s)), 2) << c.said << "\n" << host.errorText();
        EXPECT_NE(host.errorText().find(c.said), std::string::npos) << host.errorText();
    }
    close(taken);
}

}  // namespace
