// A master publishing to a render node while its other receivers fail as a
// network fails them: a name whose lookup hangs, a link of 20 kbit/s. The
// master runs in a network namespace of its own (root only), the node there
// too, the test outside as their reader.
#include "ChildProcess.h"
#include "OscRig.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <regex>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string kHost = QUORLIX_HOST_PATH;
const std::string kSim = QUORLIX_SIM_PATH;

std::chrono::milliseconds limit(std::chrono::milliseconds native) { return underEmulator() ? native * 4 : native; }
int limitMs(std::chrono::milliseconds native) { return static_cast<int>(limit(native).count()); }

bool canMakeNetworks() {
    return geteuid() == 0 && std::system("command -v unshare nsenter ip tc python3 >/dev/null 2>&1") == 0 &&
           std::system("unshare --net --mount true 2>/dev/null") == 0;
}

std::string watched(const std::string& name) {
    ChildProcess watch({kHost, "watch", "--shm", name, "--once", "--json"});
    watch.wait(limit(5s));
    return watch.outputText();
}

TEST(ClusterNetwork, AHangingNameOrASlowLinkDelaysNoOtherReceiverNorTheStop) {
    if (!canMakeNetworks()) GTEST_SKIP() << "needs root, unshare, nsenter, ip, tc and python3";
    TempDir dir;
    const std::string master = "quorlix-net-master-" + std::to_string(getpid());
    const std::string node = "quorlix-net-node-" + std::to_string(getpid());
    // A name server that never answers: every lookup waits 5 s twice.
    const std::string resolv = dir.file("resolv.conf", "nameserver 192.0.2.53\noptions timeout:5 attempts:2\n");
    ChildProcess sim({kSim, "--link", dir.path() + "/wand", "--stay", "--quiet", "-e",
                      "repeat 200 { press 2; wait 10ms; release 2; wait 10ms }; press 7"});
    ASSERT_TRUE(sim.waitForLines(1, limit(5s)));
    const std::string config = dir.file(
        "wand.conf", "showdate off\nshowtime off\nshowthreadid off\n"
                     "osc osc.udp://127.0.0.1:7770/\n"
                     "osc osc.udp://render-far.lab:7770/\n"
                     "osc osc.udp://10.77.0.2:7770/\n"
                     "device wand quorlix\nserialport " + dir.path() + "/wand\n");
    // The network: this machine's loopback, and a link of 20 kbit/s that
    // the default route (and so the name server) is behind: a tunnel whose
    // other end (held open until the host ends) reads nothing.
    const std::string network = dir.file(
        "network.sh",
        "set -e\n"
        "ip link set lo up\n"
        "ip tuntap add dev slow0 mode tun\n"
        "python3 -c \"import ctypes, fcntl, os, signal, struct\n"
        "ctypes.CDLL(None).prctl(1, signal.SIGKILL)\n"
        "fd = os.open('/dev/net/tun', os.O_RDWR)\n"
        "fcntl.ioctl(fd, 0x400454ca, struct.pack('16sH', b'slow0', 0x1001))\n"
        "signal.pause()\" &\n"
        "ip link set slow0 up\n"
        "until ip link show slow0 | grep -q LOWER_UP; do sleep 0.05; done\n"
        "ip addr add 10.77.0.1/24 dev slow0\n"
        "tc qdisc add dev slow0 root tbf rate 20kbit burst 1600 limit 4000000\n"
        "ip route add default dev slow0\n"
        "mount --bind " + resolv + " /etc/resolv.conf\n"
        "exec \"$@\"\n");
    ChildProcess host({"unshare", "--net", "--mount", "sh", network, kHost, config, "--no-view", "--shm", master});
    ASSERT_TRUE(host.waitForErrorText("-----------------------", limit(10s))) << host.errorText();
    ChildProcess mirror({"nsenter", "--net=/proc/" + std::to_string(host.pid()) + "/ns/net", kHost, "mirror",
                         "--listen", "7770", "--shm", node});
    ASSERT_TRUE(mirror.waitForErrorText("the storages are current", limit(5s))) << mirror.errorText();

    // The node follows every change as they come, never silent for long.
    ASSERT_TRUE(sim.waitForLine([](const std::string& l) { return l.find("done") != std::string::npos; },
                                limit(20s)));
    EXPECT_TRUE(eventually([&] { return watched(node) == watched(master); }, limitMs(5000ms)))
        << watched(node) << "\n" << watched(master);
    EXPECT_NE(watched(node).find("\"buttons\":[0,0,0,0,0,0,1,0,0,0,0]"), std::string::npos);
    EXPECT_EQ(mirror.errorText().find("marked stale"), std::string::npos) << mirror.errorText();

    // And the master stops at once, whatever its other receivers are doing.
    const auto before = std::chrono::steady_clock::now();
    host.signal(SIGINT);
    EXPECT_EQ(host.wait(limit(2s)), 0) << host.errorText();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    RecordProperty("stop_seconds", std::to_string(seconds));
    // Its summary: each failing receiver lost its own datagrams, counted.
    const std::string summary = host.outputText();
    EXPECT_TRUE(std::regex_search(summary, std::regex("osc.udp://render-far.lab:7770/: 0 sent, [1-9]"))) << summary;
    // More than the slow link's socket holds: the rest was its own loss.
    EXPECT_TRUE(std::regex_search(summary, std::regex("osc.udp://10.77.0.2:7770/: [0-9]+ sent, [1-9]"))) << summary;
    mirror.signal(SIGTERM);
    EXPECT_EQ(mirror.wait(limit(3s)), 0);
    EXPECT_TRUE(std::regex_search(mirror.errorText(), std::regex(", 0 lost, 0 bad")) ) << mirror.errorText();
}

}  // namespace
