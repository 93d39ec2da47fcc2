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
#include "LatencyFigures.h"
#include "SharedRecords.h"

#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

std::int64_t monotonicNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

bool waitForPath(const std::string& path, milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    struct stat info {};
    while (Clock::now() < until) {
        if (::stat(path.c_str(), &info) == 0) return true;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
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

// The simulator, a mirror and a host publishing to it (and to `extraUrl`).
class Rig {
public:
    Rig(const Settings& s, const std::string& dir, const std::string& run, const std::string& script,
        const std::string& simPace, const std::string& extraUrl)
        : link_(dir + "/" + run + ".line"), stamps_(dir + "/" + run + ".stamps"),
          shm_("quorlix-bench-" + std::to_string(::getpid()) + "-" + run) {
        const std::string scriptFile = dir + "/" + run + ".script";
        const std::string config = dir + "/" + run + ".conf";
        if (!writeFile(scriptFile, script) ||
            !writeFile(config, "showdate off\nshowtime off\nshowthreadid off\ndevice wand quorlix\nport " + link_ +
                                   "\nvalrate 0.1\nemulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0 6\n")) {
            error_ = "cannot write to " + dir;
            return;
        }
        const std::string port = std::to_string(Receiver().port());  // free a moment ago
        mirror_.reset(new ChildProcess({s.host, "mirror", "--listen", port, "--shm", shm_ + "-mirror"},
                                       dir + "/" + run + ".mirror.log"));
        std::vector<std::string> simArgs = {s.sim, "--script", scriptFile, "--link", link_, "--stamps", stamps_, "-q"};
        if (!simPace.empty()) simArgs.insert(simArgs.end(), {"--pace", simPace});
        sim_.reset(new ChildProcess(simArgs, dir + "/" + run + ".sim.log"));
        if (!sim_->started() || !waitForPath(link_, milliseconds(5000))) {
            error_ = "quorlix-sim did not start (" + s.sim + ")";
            return;
        }
        std::vector<std::string> hostArgs = {s.host, "--no-view", "--shm", shm_, "--osc",
                                             "osc.udp://127.0.0.1:" + port + "/"};
        if (!extraUrl.empty()) hostArgs.insert(hostArgs.end(), {"--osc", extraUrl});
        hostArgs.push_back(config);
        host_.reset(new ChildProcess(hostArgs, dir + "/" + run + ".host.log"));
        if (!host_->started() || !direct_.open(shm_, milliseconds(5000)) ||
            !mirrored_.open(shm_ + "-mirror", milliseconds(5000))) {
            error_ = "quorlix-host or its mirror did not start; see " + dir + "/" + run + ".*.log";
            return;
        }
        // The device's first call publishes its record; then the keyframe reaches the mirror.
        const auto until = Clock::now() + milliseconds(5000);
        while (quorlix_net_u32(direct_.controller(1).valuator_count) == 0 ||
               quorlix_net_u32(mirrored_.controller(1).valuator_count) == 0) {
            if (Clock::now() > until) {
                error_ = "nothing reached the mirror; see " + dir + "/" + run + ".*.log";
                return;
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
    }

    ~Rig() {
        if (host_) host_->stop();
        if (mirror_) mirror_->stop();
        if (sim_) sim_->stop();
    }

    const std::string& error() const { return error_; }
    SharedRecords& direct() { return direct_; }
    SharedRecords& mirrored() { return mirrored_; }
    ChildProcess& sim() { return *sim_; }
    std::vector<std::int64_t> stamps() {
        sim_->wait(milliseconds(60000));
        std::vector<std::int64_t> stamps;
        std::ifstream in(stamps_);
        long long ns = 0;
        while (in >> ns) stamps.push_back(ns);
        return stamps;
    }

private:
    std::string link_, stamps_, shm_, error_;
    std::unique_ptr<ChildProcess> mirror_, sim_, host_;
    SharedRecords direct_, mirrored_;
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
    Rig rig(s, dir, "mirror-latency", script.str(), "", "");
    if (!rig.error().empty()) return rig.error();
    std::vector<std::pair<std::int64_t, int>> seenDirect, seenMirror;
    std::uint32_t lastDirect = buttonBits(rig.direct().controller(1));
    std::uint32_t lastMirror = buttonBits(rig.mirrored().controller(1));
    Clock::time_point quietSince = Clock::now();
    for (std::uint64_t spin = 0; static_cast<int>(seenMirror.size()) < s.records; ++spin) {
        std::uint32_t bits = buttonBits(rig.direct().controller(1));
        std::int64_t now = monotonicNanoseconds();
        if (bits != lastDirect) {
            seenDirect.emplace_back(now, patternOf(bits));
            lastDirect = bits;
            quietSince = Clock::now();
        }
        bits = buttonBits(rig.mirrored().controller(1));
        now = monotonicNanoseconds();
        if (bits != lastMirror) {
            seenMirror.emplace_back(now, patternOf(bits));
            lastMirror = bits;
            quietSince = Clock::now();
        }
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
    Rig rig(s, dir, "mirror-rate", script.str(), "9600", "osc.udp://127.0.0.1:" + std::to_string(counter.port()) + "/");
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
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (arg == "--records") s.records = std::atoi(value);
        else if (arg == "--interval") s.intervalMs = std::atoi(value);
        else if (arg == "--rate-seconds") s.rateSeconds = std::atoi(value);
        else if (arg == "--markdown") s.markdown = value;
        else if (arg == "--host") s.host = value;
        else if (arg == "--sim") s.sim = value;
        else return false;
    }
    return s.records > 0 && s.intervalMs >= 0 && s.rateSeconds > 0;
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
    char dirPattern[] = "/tmp/quorlix-bench-XXXXXX";
    if (::mkdtemp(dirPattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = dirPattern;
    std::printf("work directory: %s\n", dir.c_str());
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
