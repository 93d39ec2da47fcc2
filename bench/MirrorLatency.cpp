// A render node's view of the wand, against the direct one, in the same run:
// quorlix-sim writes key records on a pseudo-terminal, quorlix-host runs the
// plug-in and publishes over OSC to `quorlix-host mirror` on this machine, and
// the probe reads both shared memories.
//
//   latency   from the moment the simulator begins writing a record's last
//             byte to the moment the change is visible in the host's storage
//             (direct) and in the mirror's (records paced, one every --interval ms)
//   rate      datagrams a second the host sends to one receiver while the
//             line runs at its full 9600 baud, every record a change of the
//             controller and of its emulated tracker
//
// Prints the figures, and with --markdown FILE writes them as table rows.
#include "ChildProcess.h"
#include "HostRig.h"
#include "LatencyFigures.h"
#include "MonotonicClock.h"
#include "OptionPairs.h"
#include "SharedRecords.h"
#include "WorkFiles.h"

#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Settings {
    int records = 2000;
    int intervalMs = 5;
    int rateSeconds = 5;
    std::string markdown;
    std::string host = QUORLIX_HOST_PATH;
    std::string sim = QUORLIX_SIM_PATH;
};

// Buttons 1 to 7 alone, in turn: the state tells which record was last.
const char* const kSingleButtons[] = {"80 01 10 8F", "80 11 00 8F", "80 03 00 8F", "80 08 04 8F",
                                      "80 0C 00 8F", "80 00 0C 8F", "80 04 08 8F"};
constexpr int kPatterns = 7;

int patternOf(std::uint32_t bits) {
    for (int p = 0; p < kPatterns; ++p)
        if (bits == (1u << p)) return p;
    return -1;
}

// Record i is in state i mod kPatterns. Each state seen is matched to the next
// record in that state at most one cycle ahead, so a few records a reader
// missed do not shift the rest; the latency of every matched record.
std::vector<std::int64_t> matched(const std::vector<std::int64_t>& written,
                                  const std::vector<std::pair<std::int64_t, int>>& seen) {
    std::vector<std::int64_t> latencies;
    std::size_t next = 0;
    for (const auto& s : seen) {
        if (s.second < 0) continue;
        for (std::size_t r = next; r < written.size() && r < next + kPatterns; ++r) {
            if (static_cast<int>(r % kPatterns) != s.second) continue;
            if (s.first >= written[r]) latencies.push_back(s.first - written[r]);
            next = r + 1;
            break;
        }
    }
    return latencies;
}

// A UDP socket on a free loopback port.
class Receiver {
public:
    Receiver() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port_ = ntohs(address.sin_port);
    }
    ~Receiver() { ::close(fd_); }
    int port() const { return port_; }
    // Datagrams that arrive within `period`.
    long count(milliseconds period) {
        long datagrams = 0;
        char buffer[65536];
        const auto until = Clock::now() + period;
        for (auto now = Clock::now(); now < until; now = Clock::now()) {
            pollfd p{fd_, POLLIN, 0};
            const auto left = std::chrono::duration_cast<milliseconds>(until - now).count();
            if (poll(&p, 1, static_cast<int>(left)) > 0 && recv(fd_, buffer, sizeof buffer, 0) >= 0) ++datagrams;
        }
        return datagrams;
    }

private:
    int fd_;
    int port_ = 0;
};

// A mirror on a free port, then the simulator and a host publishing to the
// mirror (and to `extraUrl`).
class MirrorRig {
public:
    MirrorRig(const Settings& s, const std::string& dir, const std::string& run, const std::string& script,
              const std::string& simPace, const std::string& extraUrl)
        : port_(std::to_string(Receiver().port())),  // free a moment ago
          mirrorShm_(HostRig::shmName(run) + "-mirror"),
          mirror_({s.host, "mirror", "--listen", port_, "--shm", mirrorShm_}, dir + "/" + run + ".mirror.log") {
        RigStart start;
        start.host = s.host;
        start.sim = s.sim;
        start.config = "valrate 0.1\nemulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0 6\n";
        start.hostOptions = {"--osc", "osc.udp://127.0.0.1:" + port_ + "/"};
        if (!extraUrl.empty()) start.hostOptions.insert(start.hostOptions.end(), {"--osc", extraUrl});
        if (!simPace.empty()) start.simOptions = {"--pace", simPace};
        host_.reset(new HostRig(start, dir, run, script));
        if (!host_->error().empty()) {
            error_ = host_->error();
            return;
        }
        if (!mirror_.started() || !mirrored_.open(mirrorShm_, milliseconds(5000))) {
            error_ = "the mirror did not start; see " + dir + "/" + run + ".mirror.log";
            return;
        }
        // The host sends a keyframe of what the device published.
        if (!mirrored_.waitForController(1, milliseconds(5000))) error_ = "nothing reached the mirror; see " + dir + "/" + run + ".*.log";
    }

    // The host first, so nothing is sent to a mirror that has gone.
    ~MirrorRig() {
        host_.reset();
        mirror_.stop();
    }

    const std::string& error() const { return error_; }
    SharedRecords& direct() { return host_->records(); }
    SharedRecords& mirrored() { return mirrored_; }
    ChildProcess& sim() { return host_->sim(); }
    std::vector<std::int64_t> stamps() { return host_->stamps(); }

private:
    std::string port_, mirrorShm_, error_;
    ChildProcess mirror_;
    std::unique_ptr<HostRig> host_;
    SharedRecords mirrored_;
};

struct Figures {
    LatencyFigures direct, mirror;
    int records = 0;
    double datagramsPerSecond = 0;
    double recordsPerSecond = 0;
    int rateSeconds = 0;
};

// One probe watches both storages, so both figures come from the same records.
std::string latency(const Settings& s, const std::string& dir, Figures& figures) {
    std::ostringstream script;
    script << "wait 1500ms\n";
    for (int r = 0; r < s.records; ++r) script << "raw " << kSingleButtons[r % kPatterns] << "\nwait " << s.intervalMs << "ms\n";
    MirrorRig rig(s, dir, "mirror-latency", script.str(), "", "");
    if (!rig.error().empty()) return rig.error();
    std::vector<std::pair<std::int64_t, int>> seenDirect, seenMirror;
    std::uint32_t lastDirect = buttonBits(rig.direct().controller(1));
    std::uint32_t lastMirror = buttonBits(rig.mirrored().controller(1));
    Clock::time_point quietSince = Clock::now();
    // One locked copy of a storage's entry, noted when its buttons changed.
    const auto look = [&quietSince](SharedRecords& records, std::uint32_t& last,
                                    std::vector<std::pair<std::int64_t, int>>& seen) {
        const std::uint32_t bits = buttonBits(records.controller(1));
        const std::int64_t now = monotonicNanoseconds();
        if (bits == last) return;
        seen.emplace_back(now, patternOf(bits));
        last = bits;
        quietSince = Clock::now();
    };
    for (std::uint64_t spin = 0; static_cast<int>(seenMirror.size()) < s.records; ++spin) {
        look(rig.direct(), lastDirect, seenDirect);
        look(rig.mirrored(), lastMirror, seenMirror);
        if ((spin & 1023) == 0 && !rig.sim().running() && Clock::now() - quietSince > milliseconds(1500)) break;
        sched_yield();
    }
    const std::vector<std::int64_t> stamps = rig.stamps();
    if (static_cast<int>(stamps.size()) != s.records) return "the simulator stamped " + std::to_string(stamps.size()) + " records";
    figures.direct = latencyFigures(matched(stamps, seenDirect));
    figures.mirror = latencyFigures(matched(stamps, seenMirror));
    figures.records = s.records;
    return "";
}

// The line at 9600 baud, button 10 held (valuator 1 at +1 moves the emulated
// tracker on every record) while button 1 comes and goes: every record
// changes both the controller and the tracker.
std::string rate(const Settings& s, const std::string& dir, Figures& figures) {
    const int records = 240 * (s.rateSeconds + 3);
    std::ostringstream script;
    script << "wait 1500ms\nrepeat " << records / 2 << " {\nraw 80 06 00 8F\nraw 80 07 10 8F\n}\n";
    Receiver counter;
    MirrorRig rig(s, dir, "mirror-rate", script.str(), "9600", "osc.udp://127.0.0.1:" + std::to_string(counter.port()) + "/");
    if (!rig.error().empty()) return rig.error();
    counter.count(milliseconds(1500));  // into the stream
    const std::uint32_t before = rig.direct().controllerRewrites(1);
    const long datagrams = counter.count(std::chrono::seconds(s.rateSeconds));
    const std::uint32_t after = rig.direct().controllerRewrites(1);
    figures.datagramsPerSecond = static_cast<double>(datagrams) / s.rateSeconds;
    figures.recordsPerSecond = static_cast<double>(after - before) / s.rateSeconds;
    figures.rateSeconds = s.rateSeconds;
    return "";
}

std::string micro(double ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f µs", ns / 1000.0);
    return text;
}

std::string tableRows(const Figures& f) {
    std::ostringstream rows;
    char number[96];
    rows << "| Latency to the host's storage (same run): median | " << micro(f.direct.median) << " | |\n";
    rows << "| Latency to the host's storage: 99th percentile | " << micro(f.direct.p99) << " | |\n";
    rows << "| Latency to a mirror's storage over OSC: median | " << micro(f.mirror.median) << " (+"
         << micro(f.mirror.median - f.direct.median) << ") | at most 50 µs above the host's |\n";
    rows << "| Latency to a mirror's storage: 99th percentile | " << micro(f.mirror.p99) << " (+"
         << micro(f.mirror.p99 - f.direct.p99) << ") | |\n";
    rows << "| Records measured (host, mirror) | " << f.direct.count << ", " << f.mirror.count << " of " << f.records
         << " | at least 1000 |\n";
    std::snprintf(number, sizeof number, "%.0f (%.0f records a second, each a controller and a tracker change)",
                  f.datagramsPerSecond, f.recordsPerSecond);
    rows << "| OSC datagrams a second to one receiver, line at 9600 baud | " << number << " | |\n";
    return rows.str();
}

bool parse(int argc, char** argv, Settings& s) {
    return readOptionPairs(argc, argv,
                           {{"--records", numberOption(s.records)},
                            {"--interval", numberOption(s.intervalMs)},
                            {"--rate-seconds", numberOption(s.rateSeconds)},
                            {"--markdown", textOption(s.markdown)},
                            {"--host", textOption(s.host)},
                            {"--sim", textOption(s.sim)}}) &&
           s.records > 0 && s.intervalMs >= 0 && s.rateSeconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: %s [--records N] [--interval MS] [--rate-seconds S] [--markdown FILE]\n"
                     "          [--host PATH] [--sim PATH]\n",
                     argv[0]);
        return 2;
    }
    const std::string dir = makeWorkDirectory();
    if (dir.empty()) return 1;
    Figures figures;
    const struct {
        const char* name;
        std::string (*run)(const Settings&, const std::string&, Figures&);
    } runs[] = {{"latency, host and mirror", latency}, {"datagram rate", rate}};
    for (const auto& run : runs) {
        std::printf("%s ...\n", run.name);
        std::fflush(stdout);
        const std::string error = run.run(settings, dir, figures);
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", run.name, error.c_str());
            return 1;
        }
    }
    const std::string rows = tableRows(figures);
    std::printf("%s", rows.c_str());
    if (!settings.markdown.empty() && !writeFile(settings.markdown, rows)) {
        std::fprintf(stderr, "cannot write %s\n", settings.markdown.c_str());
        return 1;
    }
    return 0;
}
