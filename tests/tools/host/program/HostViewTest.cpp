// The live view on real terminals of given sizes (tmux), read back as the
// user sees it.
#include "ChildProcess.h"
#include "TempDir.h"
#include "TmuxTerminal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Rows = std::vector<std::string>;

const std::string kHost = QUORLIX_HOST_PATH;
const std::string kSim = QUORLIX_SIM_PATH;

std::chrono::milliseconds limit(std::chrono::milliseconds native) { return underEmulator() ? native * 4 : native; }

bool shows(const Rows& rows, const std::string& text) {
    return std::any_of(rows.begin(), rows.end(), [&](const std::string& r) { return r.find(text) != std::string::npos; });
}

std::size_t count(const Rows& rows, const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(rows.begin(), rows.end(), [&](const std::string& r) { return r.find(text) != std::string::npos; }));
}

// Two wands: one on a simulator that holds button 2, one whose port is there
// but cannot be opened (a pseudo-terminal never unlocked), so it is tried again.
struct TwoWands {
    TempDir dir;
    ChildProcess sim{{kSim, "--link", dir.path() + "/wand", "--stay", "--quiet", "-e", "press 2"}};
    int locked = posix_openpt(O_RDWR | O_NOCTTY);
    std::string config;

    TwoWands() {
        sim.waitForLines(1, limit(5s));
        config = dir.file("wands.conf", "showdate off\nshowtime off\nshowthreadid off\n"
                                        "device wand quorlix\nserialport " + dir.path() + "/wand\n"
                                        "device spare quorlix\nserialport " + std::string(ptsname(locked)) + "\n");
    }
    ~TwoWands() { ::close(locked); }
};

TEST(HostView, FitsTheTerminalFollowsItsSizeAndShowsWhyADeviceIsDown) {
    TwoWands wands;
    const std::string logFile = wands.dir.path() + "/host.log";
    TmuxTerminal terminal(80, 24, {kHost, wands.config, "--keep-going", "--log", logFile});
    ASSERT_TRUE(terminal.started()) << "tmux could not start";

    // Full detail fits 80x24: the title on top, both devices, the reconnecting
    // one with its try, the time to the next and the device's own reason.
    auto full = [](const Rows& rows) {
        return !rows.empty() && rows[0].rfind("quorlix-host ", 0) == 0 && shows(rows, "controller 1   buttons    . 2 .") &&
               shows(rows, "reconnect try 2: Opening port") && shows(rows, "spare      ");
    };
    ASSERT_TRUE(terminal.waitForScreen(full, limit(15s))) << screenText(terminal.screen());
    Rows rows = terminal.screen();
    EXPECT_LE(rows.size(), 24u);
    EXPECT_TRUE(shows(rows, "reconnecting (try ")) << screenText(rows);
    EXPECT_TRUE(shows(rows, ", next in ")) << screenText(rows);
    EXPECT_TRUE(shows(rows, "s): Ope")) << "the device's reason beside its state\n" << screenText(rows);
    EXPECT_EQ(count(rows, "failed   "), 0u) << "tries under way are not a failure\n" << screenText(rows);
    EXPECT_LE(count(rows, "DEVICE NAME"), 1u) << "a report shows once, each try one line\n" << screenText(rows);

    // Smaller: two lines per device, the log shortened, nothing scrolled away.
    ASSERT_TRUE(terminal.resize(60, 14));
    auto compact = [](const Rows& rows) {
        return !rows.empty() && rows[0].rfind("quorlix-host ", 0) == 0 && shows(rows, "  c1 . 2 .") &&
               shows(rows, "spare      reconnecting") && shows(rows, "--- log ---");
    };
    ASSERT_TRUE(terminal.waitForScreen(compact, limit(5s))) << screenText(terminal.screen());
    rows = terminal.screen();
    EXPECT_LE(rows.size(), 14u);
    for (const std::string& r : rows) EXPECT_LE(r.size(), 60u) << r;

    // The wand's line goes: nothing stays pressed, and the view says so; its
    // adapter is away (the link gone), so it is waited for.
    wands.sim.stop();
    auto lost = [](const Rows& rows) { return shows(rows, "c1 line lost") && shows(rows, "wand       waiting for its port"); };
    EXPECT_TRUE(terminal.waitForScreen(lost, limit(10s))) << screenText(terminal.screen());

    // Back to a large terminal: full detail again.
    ASSERT_TRUE(terminal.resize(100, 40));
    auto large = [](const Rows& rows) { return shows(rows, "controller 1   buttons    . . .") && shows(rows, "line lost"); };
    EXPECT_TRUE(terminal.waitForScreen(large, limit(5s))) << screenText(terminal.screen());

    // The log file keeps what the view folds: every try's whole report.
    std::ifstream in(logFile);
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t reports = 0;
    for (std::size_t at = log.find("spare: INFO: DEVICE NAME"); at != std::string::npos;
         at = log.find("spare: INFO: DEVICE NAME", at + 1))
        ++reports;
    EXPECT_GE(reports, 3u) << log;
    // The host's own lines carry the date and time the devices' lines may.
    EXPECT_TRUE(std::regex_search(log, std::regex("(^|\n)[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} "
                                                  "quorlix-host: wand: line lost; ")))
        << log;

    // Stopped while the log fills the terminal: the summary is a row of its own.
    ASSERT_TRUE(terminal.type("C-c"));
    auto ended = [](const Rows& rows) {
        return std::any_of(rows.begin(), rows.end(), [](const std::string& r) {
            return std::regex_search(r, std::regex("^quorlix-host: [0-9]+ records received, "));
        });
    };
    EXPECT_TRUE(terminal.waitForScreen(ended, limit(10s))) << screenText(terminal.screen());
}

}  // namespace
