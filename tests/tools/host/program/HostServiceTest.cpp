// quorlix-host as a service manager runs it: what it tells systemd, a wand
// plugged in after the start, and a line that a killed host left exclusive.
#include "ChildProcess.h"
#include "Eventually.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string kHost = QUORLIX_HOST_PATH;
const std::string kSim = QUORLIX_SIM_PATH;

std::chrono::milliseconds limit(std::chrono::milliseconds native) { return underEmulator() ? native * 4 : native; }

std::string quietConfig(const std::string& port) {
    return "showdate off\nshowtime off\nshowthreadid off\ndevice wand quorlix\nserialport " + port + "\nvalrate 0.1\n";
}

// The socket systemd gives a Type=notify service. A thread reads every
// datagram as it comes, as systemd does: a sender blocks on a full queue.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path_(path), fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (bound_) reader_ = std::thread([this] { read(); });
    }
    ~NotifySocket() {
        done_ = true;
        if (reader_.joinable()) reader_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool bound() const { return bound_; }
    const std::string& path() const { return path_; }

    // Waits until as many datagrams as `times` have contained `text`.
    bool waitFor(const std::string& text, std::chrono::milliseconds within, std::size_t times = 1) {
        return eventually([&] { return count(text) >= times; }, static_cast<int>(within.count()));
    }
    std::size_t count(const std::string& text) const {
        std::lock_guard<std::mutex> lock(lock_);
        std::size_t n = 0;
        for (const std::string& m : messages_) n += m.find(text) != std::string::npos;
        return n;
    }
    std::string all() const {
        std::lock_guard<std::mutex> lock(lock_);
        std::string text;
        for (const std::string& m : messages_) text += "[" + m + "]\n";
        return text;
    }

private:
    void read() {
        while (!done_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buffer[4096];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            std::lock_guard<std::mutex> lock(lock_);
            if (n > 0) messages_.emplace_back(buffer, static_cast<std::size_t>(n));
        }
    }

    std::string path_;
    int fd_;
    bool bound_ = false;
    std::atomic<bool> done_{false};
    mutable std::mutex lock_;
    std::vector<std::string> messages_;
    std::thread reader_;
};

TEST(HostService, TellsTheServiceManagerWhenItIsReadyHowItsWandIsAndThatItRuns) {
    TempDir dir;
    NotifySocket notify(dir.path() + "/notify");
    ASSERT_TRUE(notify.bound());
    const std::string port = dir.path() + "/wand";
    const std::string config = dir.file("wand.conf", quietConfig(port));
    // Ready at once although the wand is not plugged in: it is waited for.
    ChildProcess host({"/usr/bin/env", "NOTIFY_SOCKET=" + notify.path(), "WATCHDOG_USEC=1000000", kHost, config,
                       "--json", "--keep-going"});
    EXPECT_TRUE(notify.waitFor("READY=1\nSTATUS=wand: waiting for " + port, limit(10s))) << notify.all();

    const auto plugged = std::chrono::steady_clock::now();
    ChildProcess sim({kSim, "--link", port, "--stay", "--quiet", "-e", "press 3"});
    EXPECT_TRUE(host.waitForLine([](const std::string& l) { return l.find("\"buttons\":[0,0,1,") != std::string::npos; },
                                 limit(10s)))
        << host.errorText();
    const auto took = std::chrono::steady_clock::now() - plugged;
    std::printf("records %lld ms after the wand's port appeared\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_LE(took, limit(2s)) << "the port is looked for four times a second";
    EXPECT_TRUE(notify.waitFor("STATUS=wand: running", limit(5s))) << notify.all();
    // The watchdog asks for a ping every second: one at least every half.
    EXPECT_TRUE(notify.waitFor("WATCHDOG=1", limit(10s), 3)) << notify.all();

    host.signal(SIGTERM);
    EXPECT_EQ(host.wait(limit(5s)), 0) << host.errorText();
    EXPECT_TRUE(notify.waitFor("STOPPING=1", limit(1s))) << notify.all();
    // Told once: the port's absence, then that it is there.
    const std::string log = host.errorText();
    EXPECT_NE(log.find("quorlix-host: wand: waiting for " + port + ": it is not there"), std::string::npos) << log;
    EXPECT_NE(log.find("quorlix-host: wand: " + port + " is there"), std::string::npos) << log;
}

// With --keep-going only the line's faults are waited out: options the wand
// refuses once its port appears end the host; a port another host holds is
// tried again.
TEST(HostService, OnlyTheLinesFaultsAreWaitedOut) {
    TempDir dir;
    const std::string port = dir.path() + "/wand";
    const std::string refused = dir.file("refused.conf", quietConfig(port) + "valrate fast\n");
    ChildProcess waiting({kHost, refused, "--no-view", "--keep-going"});
    ASSERT_TRUE(waiting.waitForErrorText("waiting for " + port, limit(10s))) << waiting.errorText();
    ChildProcess sim({kSim, "--link", port, "--stay", "--quiet", "-e", "repeat 1000000 { press 5; wait 50ms; release; wait 50ms }"});
    EXPECT_EQ(waiting.wait(limit(10s)), 2) << waiting.errorText();
    EXPECT_NE(waiting.errorText().find("quorlix-host: wand: stopped: its configuration is faulty (see above)"),
              std::string::npos)
        << waiting.errorText();

    // The line is held by a host: a second one waits its turn, and takes
    // the line once the first has stopped.
    const std::string good = dir.file("good.conf", quietConfig(port));
    ChildProcess first({kHost, good, "--json"});
    ASSERT_TRUE(first.waitForLines(1, limit(10s))) << first.errorText();
    ChildProcess second({kHost, good, "--json", "--keep-going"});
    ASSERT_TRUE(second.waitForErrorText("reconnect try 1", limit(10s))) << second.errorText();
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(limit(5s)), 0);
    EXPECT_TRUE(second.waitForLine([](const std::string& l) { return l.find("\"buttons\":[0,0,0,0,1,") != std::string::npos; },
                                   limit(15s)))
        << second.errorText();
    second.signal(SIGTERM);
    EXPECT_EQ(second.wait(limit(5s)), 0) << second.errorText();
}

TEST(HostService, AMirrorIsReadyOnceItListens) {
    TempDir dir;
    NotifySocket notify(dir.path() + "/notify");
    ASSERT_TRUE(notify.bound());
    const std::string name = "quorlix-service-mirror-" + std::to_string(getpid());
    const std::string port = std::to_string(20000 + getpid() % 20000);
    ChildProcess mirror({"/usr/bin/env", "NOTIFY_SOCKET=" + notify.path(), kHost, "mirror", "--listen",
                         "osc.udp://127.0.0.1:" + port + "/", "--shm", name});
    EXPECT_TRUE(notify.waitFor("READY=1\nSTATUS=listening on ", limit(10s))) << notify.all() << mirror.errorText();
    EXPECT_NE(notify.all().find("no host followed now (stale)"), std::string::npos) << notify.all();
    // A wrong --listen stays wrong (2); a port in use may be free later (1).
    ChildProcess wrong({kHost, "mirror", "--listen", "osc.tcp://127.0.0.1:7770/", "--shm", name + "-wrong"});
    EXPECT_EQ(wrong.wait(limit(5s)), 2) << wrong.errorText();
    ChildProcess taken({kHost, "mirror", "--listen", "osc.udp://127.0.0.1:" + port + "/", "--shm", name + "-taken"});
    EXPECT_EQ(taken.wait(limit(5s)), 1) << taken.errorText();
    EXPECT_NE(taken.errorText().find("is in use"), std::string::npos) << taken.errorText();
    mirror.signal(SIGTERM);
    EXPECT_EQ(mirror.wait(limit(5s)), 0) << mirror.errorText();
}

// errno of opening `path` as an unprivileged user (nobody), 0 when it opened.
int openAsNobody(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(255);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A pseudo-terminal keeps its exclusive mark while its far end is open,
// after the host that set it was killed; only root may open it then.
TEST(HostService, ALineThatAKilledHostLeftExclusiveIsGivenBackAndOnlyThat) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: only root can open a line marked for exclusive use";
    TempDir dir;
    const std::string port = dir.path() + "/wand";
    ChildProcess sim({kSim, "--link", port, "--stay", "--quiet", "-e", "press 4"});
    ASSERT_TRUE(sim.waitForLines(1, limit(5s)));
    char terminal[4096];
    ASSERT_NE(realpath(port.c_str(), terminal), nullptr);
    ASSERT_EQ(chmod(terminal, 0666), 0) << "so that only the exclusive mark can refuse nobody";
    ASSERT_EQ(openAsNobody(terminal), 0);
    const std::string config = dir.file("wand.conf", quietConfig(port));
    auto released = [&] {
        ChildProcess release({kHost, "release", config});
        EXPECT_EQ(release.wait(limit(10s)), 0) << release.errorText();
        return release.errorText();
    };

    {
        ChildProcess host({kHost, config, "--json"});
        ASSERT_TRUE(host.waitForLine([](const std::string& l) { return l.find("\"buttons\":[0,0,0,1,") != std::string::npos; },
                                     limit(10s)))
            << host.errorText();
        EXPECT_EQ(openAsNobody(terminal), EBUSY) << "no second program while the host runs";
        const std::string said = released();
        EXPECT_NE(said.find("quorlix-host release: wand: " + port + " is in use by process " + std::to_string(host.pid())),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find("; left as it is\n"), std::string::npos) << said;
        EXPECT_EQ(openAsNobody(terminal), EBUSY) << "a running host's line is not given back";
        host.signal(SIGKILL);
        host.wait(limit(5s));
    }
    EXPECT_EQ(openAsNobody(terminal), EBUSY) << "the mark outlived the host";
    EXPECT_NE(released().find("quorlix-host release: wand: " + port +
                              ": gave back the exclusive use that a program which ended left on it"),
              std::string::npos);
    EXPECT_EQ(openAsNobody(terminal), 0);
    EXPECT_EQ(released(), "") << "nothing more to give back";

    // A host stopped cleanly leaves no mark.
    ChildProcess host({kHost, config, "--json"});
    ASSERT_TRUE(host.waitForLines(1, limit(10s))) << host.errorText();
    host.signal(SIGTERM);
    EXPECT_EQ(host.wait(limit(5s)), 0);
    EXPECT_EQ(openAsNobody(terminal), 0);
}

}  // namespace
