#include "ChildProcess.h"
#include "LineSink.h"
#include "ScriptParser.h"
#include "ScriptRunner.h"
#include "TempDir.h"
#include "WandLine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The host's side of the line, opened as a serial port would be.
class HostEnd {
public:
    explicit HostEnd(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~HostEnd() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Reads until `count` bytes came or `limit` passed.
    sim::Bytes read(std::size_t count, std::chrono::milliseconds limit = 2000ms) {
        sim::Bytes bytes;
        auto until = std::chrono::steady_clock::now() + limit;
        while (bytes.size() < count && std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            std::uint8_t buffer[64];
            ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

private:
    int fd_;
};

std::string tempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/" + name + "." + std::to_string(getpid());
}

TEST(SimLine, BytesOfAScriptArriveUnchangedOnThePseudoTerminal) {
    std::string error;
    auto line = sim::WandLine::openPty("", error);
    ASSERT_TRUE(line) << error;
    HostEnd host(line->portName());
    ASSERT_TRUE(host.ok());
    std::atomic<bool> stop{false};
    sim::LineSink sink(*line, stop);
    sim::ScriptRunner runner(sink);
    sim::Script script;
    sim::ParseError parseError;
    // Bytes a cooked terminal would change: CR, NL, ^C, ^D, XOFF, DEL and high bytes.
    ASSERT_TRUE(sim::parseScript("press 1; raw 0D 0A 03 04 13 7F FF 00; text OK", script, parseError));
    ASSERT_TRUE(runner.run(script));
    sim::Bytes expected{0x80, 0x01, 0x10, 0x8F, 0x0D, 0x0A, 0x03, 0x04, 0x13, 0x7F, 0xFF, 0x00, 0x82, 'O', 'K', 0xFC};
    EXPECT_EQ(host.read(expected.size()), expected);
}

TEST(SimLine, PacedBytesTakeAtLeastTheirLineTime) {
    std::string error;
    auto line = sim::WandLine::openPty("", error);
    ASSERT_TRUE(line) << error;
    HostEnd host(line->portName());
    std::atomic<bool> stop{false};
    sim::LineSink sink(*line, stop);
    sink.setPace(9600);
    sim::Bytes bytes(48, 0x41);
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(sink.send(bytes));
    auto took = std::chrono::steady_clock::now() - start;
    // 48 bytes of 10 bits at 9600 baud: 50 ms; the first byte leaves at once.
    EXPECT_GE(took, 48ms);
    EXPECT_EQ(host.read(bytes.size()).size(), bytes.size());
    EXPECT_EQ(sim::byteTime(9600), std::chrono::nanoseconds(1041666));
}

TEST(SimLine, UnplugHangsUpTheHostAndPlugMovesTheLink) {
    std::string link = tempPath("quorlix-sim-link");
    std::string error;
    auto line = sim::WandLine::openPty(link, error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->portName(), link);
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), line->path());

    HostEnd host(link);
    ASSERT_TRUE(host.ok());
    line->unplug();
    EXPECT_FALSE(line->plugged());
    EXPECT_NE(access(link.c_str(), F_OK), 0) << "the link must vanish with the line";
    pollfd p{host.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    std::uint8_t byte;
    ssize_t n = ::read(host.fd(), &byte, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << "a hung-up line reads as end or EIO";

    std::atomic<bool> stop{false};
    EXPECT_FALSE(line->write(&byte, 1, stop, error));

    ASSERT_TRUE(line->plug(error)) << error;
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    HostEnd again(link);
    ASSERT_TRUE(again.ok());
    std::uint8_t hello[] = {0x80, 0x8F};
    ASSERT_TRUE(line->write(hello, 2, stop, error));
    EXPECT_EQ(again.read(2), (sim::Bytes{0x80, 0x8F}));
    line.reset();
    EXPECT_NE(access(link.c_str(), F_OK), 0);
}

TEST(SimLine, WaitsForAHostThatTakesTheLineForItself) {
    std::string error;
    auto line = sim::WandLine::openPty("", error);
    ASSERT_TRUE(line) << error;
    std::atomic<bool> stop{false};
    HostEnd host(line->portName());
    ASSERT_TRUE(host.ok());
    std::thread opener([&] {
        std::this_thread::sleep_for(50ms);
        ioctl(host.fd(), TIOCEXCL);
    });
    EXPECT_TRUE(line->waitForReader(stop, 3000ms));
    opener.join();

    stop = true;
    auto other = sim::WandLine::openPty("", error);
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->waitForReader(stop, 3000ms)) << "an interrupted wait reports it";
}

TEST(SimLine, DrainReturnsOnceTheHostHasReadEverything) {
    std::string error;
    auto line = sim::WandLine::openPty("", error);
    ASSERT_TRUE(line) << error;
    HostEnd host(line->portName());
    std::atomic<bool> stop{false};
    std::uint8_t bytes[] = {1, 2, 3};
    ASSERT_TRUE(line->write(bytes, 3, stop, error));
    std::thread reader([&] {
        std::this_thread::sleep_for(100ms);
        host.read(3);
    });
    auto start = std::chrono::steady_clock::now();
    line->drain(5000ms, stop);
    auto took = std::chrono::steady_clock::now() - start;
    reader.join();
    EXPECT_GE(took, 90ms) << "drain must wait for the unread bytes";
    EXPECT_LT(took, 4000ms) << "drain must end once they are read";
}

const std::string kSim = QUORLIX_SIM_PATH;

std::chrono::milliseconds limit(std::chrono::milliseconds native) { return underEmulator() ? native * 4 : native; }

std::string linkTarget(const std::string& path) {
    char target[256] = {};
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// Each name in `dir` with its kind and what it holds or points at.
std::map<std::string, std::string> contents(const std::string& dir) {
    std::map<std::string, std::string> found;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return found;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "/" + name;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) continue;
        std::string& seen = found[name];
        if (S_ISLNK(info.st_mode)) {
            seen = "link to " + linkTarget(path);
        } else if (S_ISREG(info.st_mode)) {
            std::ostringstream text;
            text << std::ifstream(path).rdbuf();
            seen = "file: " + text.str();
        } else {
            seen = S_ISDIR(info.st_mode) ? "directory" : S_ISFIFO(info.st_mode) ? "fifo" : "other";
        }
    }
    closedir(d);
    return found;
}

std::vector<std::string> simWithLink(const std::string& link, bool stay) {
    std::vector<std::string> argv = {kSim, "--link", link, "--no-wait", "--linger", "0", "--quiet", "-e", "press 1"};
    if (stay) argv.push_back("--stay");
    return argv;
}

TEST(SimLink, RefusesToReplaceWhatItDidNotMake) {
    struct Case {
        const char* what;
        std::function<void(const TempDir&, const std::string&)> make;
        std::string there;  // as the refusal names it
    };
    const Case cases[] = {
        {"regular file", [](const TempDir& d, const std::string&) { d.file("wand", "precious\n"); }, "a regular file"},
        {"directory", [](const TempDir&, const std::string& p) { mkdir(p.c_str(), 0700); }, "a directory"},
        {"link elsewhere",
         [](const TempDir& d, const std::string& p) { ASSERT_EQ(symlink(d.file("hostname", "box\n").c_str(), p.c_str()), 0); },
         "a symbolic link to {dir}/hostname"},
        {"fifo", [](const TempDir&, const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, "a named pipe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string link = dir.path() + "/wand";
        dir.file("wand.new", "someone else's\n");
        c.make(dir, link);
        const auto before = contents(dir.path());

        ChildProcess refused(simWithLink(link, false));
        EXPECT_EQ(refused.wait(limit(5000ms)), 2);
        const std::string there = std::regex_replace(c.there, std::regex("\\{dir\\}"), dir.path());
        EXPECT_EQ(refused.errorText(), "quorlix-sim: --link " + link + ": " + there +
                                           " is there, not a link to a pseudo-terminal; refusing to replace it\n");
        EXPECT_EQ(refused.outputText(), "") << "refused before the line exists";
        EXPECT_EQ(contents(dir.path()), before) << "nothing there is touched, nothing is left";
    }
}

TEST(SimLink, ReplacesAStaleLinkToATerminalAndRemovesItsOwnAtTheEnd) {
    if (underEmulator()) GTEST_SKIP() << "the simulator is stopped by a signal, which qemu-i386 may turn into an abort";
    TempDir dir;
    const std::string link = dir.path() + "/wand";
    ASSERT_EQ(symlink("/dev/pts/2147483647", link.c_str()), 0) << "a terminal of an earlier run, gone";
    dir.file("wand.new", "someone else's\n");

    ChildProcess sim(simWithLink(link, true));
    ASSERT_TRUE(sim.waitForLines(2, limit(5000ms))) << sim.errorText();
    EXPECT_EQ(sim.lines()[0], link);
    EXPECT_TRUE(std::regex_match(linkTarget(link), std::regex("/dev/pts/[0-9]+"))) << linkTarget(link);
    EXPECT_NE(linkTarget(link), "/dev/pts/2147483647");
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(limit(5000ms)), 0) << sim.errorText();
    EXPECT_EQ(contents(dir.path()), (std::map<std::string, std::string>{{"wand.new", "file: someone else's\n"}}));
}

TEST(SimLink, LeavesAFileThatTookTheLinksPlace) {
    TempDir dir;
    const std::string link = dir.path() + "/wand";
    const auto replaceWithFile = [&] {
        ASSERT_EQ(std::rename(dir.file("mine", "precious\n").c_str(), link.c_str()), 0);
    };
    // While the line is unplugged: plugging it in again refuses. The name
    // the new link would first be made under is taken, and stays so.
    {
        const std::string taken = "wand.tmp-" + std::to_string(getpid()) + "-0";
        dir.file(taken, "someone else's\n");
        std::string error;
        auto line = sim::WandLine::openPty(link, error);
        ASSERT_TRUE(line) << error;
        EXPECT_EQ(contents(dir.path()), (std::map<std::string, std::string>{{taken, "file: someone else's\n"},
                                                                            {"wand", "link to " + line->path()}}));
        line->unplug();
        replaceWithFile();
        EXPECT_FALSE(line->plug(error));
        EXPECT_EQ(error, "--link " + link +
                             ": a regular file is there, not a link to a pseudo-terminal; refusing to replace it");
        EXPECT_EQ(contents(dir.path()), (std::map<std::string, std::string>{{taken, "file: someone else's\n"},
                                                                            {"wand", "file: precious\n"}}));
        ASSERT_EQ(unlink(link.c_str()), 0);
        ASSERT_EQ(unlink((dir.path() + "/" + taken).c_str()), 0);
    }
    // While the simulator runs: its end leaves the file.
    if (underEmulator()) GTEST_SKIP() << "the simulator is stopped by a signal, which qemu-i386 may turn into an abort";
    ChildProcess sim(simWithLink(link, true));
    ASSERT_TRUE(sim.waitForLines(2, limit(5000ms))) << sim.errorText();
    ASSERT_FALSE(linkTarget(link).empty());
    replaceWithFile();
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(limit(5000ms)), 0) << sim.errorText();
    EXPECT_EQ(contents(dir.path()), (std::map<std::string, std::string>{{"wand", "file: precious\n"}}));
}

TEST(SimCapture, CapturedStreamReplaysAsTheSameBytes) {
    std::string path = tempPath("quorlix-sim-capture");
    std::FILE* out = std::fopen(path.c_str(), "w");
    ASSERT_NE(out, nullptr);

    class Collect : public sim::ScriptSink {
    public:
        bool send(const sim::Bytes& b) override {
            bytes.insert(bytes.end(), b.begin(), b.end());
            return true;
        }
        bool pause(sim::Duration d) override {
            std::this_thread::sleep_for(d);
            return true;
        }
        bool unplug() override { return true; }
        bool plug() override { return true; }
        sim::Bytes bytes;
    } first, second;

    // A file name may hold anything; the note must stay one comment line.
    sim::CaptureSink capture(first, out, "taken from --script a\nb.qs");
    sim::ScriptRunner runner(capture);
    sim::Script script;
    sim::ParseError error;
    ASSERT_TRUE(sim::parseScript("press 8; wait 30ms; text hi; release; unplug; plug", script, error));
    ASSERT_TRUE(runner.run(script));
    std::fclose(out);

    std::FILE* in = std::fopen(path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, in) != nullptr) text += buffer;
    std::fclose(in);
    std::remove(path.c_str());

    EXPECT_EQ(text.rfind(std::string(sim::kCaptureHeader) + "\n# taken from --script a?b.qs\n", 0), 0u) << text;
    EXPECT_TRUE(sim::isCapture(text));
    sim::Script replay;
    ASSERT_TRUE(sim::parseScript(text, replay, error)) << error.what << "\n" << text;
    // The pause is kept (at least as long as it was), and the line events in order.
    std::smatch pause;
    ASSERT_TRUE(std::regex_search(text, pause, std::regex("raw 80 09 00 8F\nwait ([0-9]+)ms\nraw 82 68 69 FC"))) << text;
    EXPECT_GE(std::stoi(pause[1].str()), 30) << text;
    std::string::size_type unplugAt = text.find("unplug\n");
    ASSERT_NE(unplugAt, std::string::npos) << text;
    EXPECT_NE(text.find("\nplug\n", unplugAt), std::string::npos) << text;
    sim::ScriptRunner again(second);
    ASSERT_TRUE(again.run(replay));
    EXPECT_EQ(second.bytes, first.bytes);
}

TEST(SimCapture, OnlyAHeaderOnTheFirstLineMakesACapture) {
    const std::string header = sim::kCaptureHeader;
    EXPECT_TRUE(sim::isCapture(header));
    EXPECT_TRUE(sim::isCapture(header + "\r\nwait 5ms\r\n")) << "edited on Windows";
    for (const std::string& other : {std::string(), "\n" + header, header + " \n", header + "0\n"})
        EXPECT_FALSE(sim::isCapture(other)) << other;
}

}  // namespace
