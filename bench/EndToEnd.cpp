// The wand end to end, as a user runs it: quorlix-sim writes key records on a
// pseudo-terminal, quorlix-host runs the plug-in on it and keeps the storages
// in shared memory, and this probe reads them like any other program.
//
//   latency     from the moment the simulator begins writing a record's last
//               byte to the moment the changed record can be read from the
//               host's storage (records paced, one every --interval ms)
//   throughput  records per second with the simulator writing unpaced
//   silence     the host's CPU time while the line stays silent for --silence s
//
// Prints the figures, and with --markdown FILE writes them as table rows.
#include "ChildProcess.h"
#include "LatencyFigures.h"
#include "SharedRecords.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Settings {
    int records = 2000;
    int intervalMs = 5;
    int unpaced = 20000;
    int silenceSeconds = 10;
    std::string markdown;
    std::string host = QUORLIX_HOST_PATH;
    std::string sim = QUORLIX_SIM_PATH;
};

// Key records of buttons 1 to 7 alone: each differs from the one before, and
// the state in the storage tells which of the seven was last.
const char* const kSingleButtons[] = {"80 01 10 8F", "80 11 00 8F", "80 03 00 8F", "80 08 04 8F",
                                      "80 0C 00 8F", "80 00 0C 8F", "80 04 08 8F"};
constexpr int kPatterns = 7;
// Buttons 2 and 3 together: none of the seven, so it marks the end.
const char* const kLastRecord = "80 13 00 8F";
constexpr std::uint32_t kLastBits = (1u << 1) | (1u << 2);

// Which of the seven the state is; -1 for any other.
int patternOf(std::uint32_t bits) {
    for (int p = 0; p < kPatterns; ++p) {
        if (bits == (1u << p)) return p;
    }
    return -1;
}

std::int64_t monotonicNanoseconds() {
    // steady_clock is CLOCK_MONOTONIC, the clock the simulator stamps with.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

std::vector<std::int64_t> readStamps(const std::string& path) {
    std::vector<std::int64_t> stamps;
    std::ifstream in(path);
    long long ns = 0;
    while (in >> ns) stamps.push_back(ns);
    return stamps;
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

// One simulator and one host on a fresh line, torn down when it goes.
class Rig {
public:
    Rig(const Settings& settings, const std::string& dir, const std::string& run, const std::string& script)
        : dir_(dir), link_(dir + "/" + run + ".line"), stamps_(dir + "/" + run + ".stamps"),
          shmName_("quorlix-bench-" + std::to_string(::getpid()) + "-" + run) {
        const std::string scriptFile = dir + "/" + run + ".script";
        const std::string config = dir + "/" + run + ".conf";
        if (!writeFile(scriptFile, script) ||
            !writeFile(config, "showdate off\nshowtime off\nshowthreadid off\ndevice wand quorlix\nport " + link_ + "\n")) {
            error_ = "cannot write to " + dir;
            return;
        }
        sim_.reset(new ChildProcess({settings.sim, "--script", scriptFile, "--link", link_, "--stamps", stamps_, "-q"},
                                    dir + "/" + run + ".sim.log"));
        if (!sim_->started() || !waitForPath(link_, milliseconds(5000))) {
            error_ = "quorlix-sim did not start (" + settings.sim + ")";
            return;
        }
        host_.reset(new ChildProcess({settings.host, "--no-view", "--shm", shmName_, config},
                                     dir + "/" + run + ".host.log"));
        if (!host_->started() || !records_.open(shmName_, milliseconds(5000))) {
            error_ = "quorlix-host did not start (" + settings.host + "); see " + dir + "/" + run + ".host.log";
            return;
        }
        // The device's first call publishes its record: from then on it is running.
        const auto until = Clock::now() + milliseconds(5000);
        while (quorlix_net_u32(records_.controller(1).valuator_count) == 0) {
            if (Clock::now() > until) {
                error_ = "the wand published nothing; see " + dir + "/" + run + ".host.log";
                return;
            }
            std::this_thread::sleep_for(milliseconds(5));
        }
    }

    // Stopped gently, so the host removes its shared memory.
    ~Rig() {
        if (host_) host_->stop();
        if (sim_) sim_->stop();
    }

    const std::string& error() const { return error_; }
    SharedRecords& records() { return records_; }
    ChildProcess& sim() { return *sim_; }
    ChildProcess& host() { return *host_; }
    // The simulator's write times, once it has ended.
    std::vector<std::int64_t> stamps() {
        sim_->wait(milliseconds(60000));
        return readStamps(stamps_);
    }

private:
    std::string dir_;
    std::string link_;
    std::string stamps_;
    std::string shmName_;
    std::string error_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> host_;
    SharedRecords records_;
};

struct Figures {
    LatencyFigures latency;
    int latencyRecords = 0;
    double recordsPerSecond = 0;
    int unpacedRecords = 0;
    std::uint32_t unpacedPublished = 0;
    double silentCpuPercent = -1;
    int silenceSeconds = 0;
};

std::string latency(const Settings& s, const std::string& dir, Figures& figures) {
    std::ostringstream script;
    // Time for the host to settle before the first record.
    script << "wait 1s\n";
    for (int r = 0; r < s.records; ++r) script << "raw " << kSingleButtons[r % kPatterns] << "\nwait " << s.intervalMs << "ms\n";
    Rig rig(s, dir, "latency", script.str());
    if (!rig.error().empty()) return rig.error();

    // Spin on the storage, one locked copy at a time, and note when it changes.
    // This needs a core of its own: on a loaded machine the figures measure
    // the scheduler instead.
    std::vector<std::pair<std::int64_t, int>> seen;
    seen.reserve(static_cast<std::size_t>(s.records));
    std::uint32_t last = buttonBits(rig.records().controller(1));
    Clock::time_point quietSince = Clock::now();
    for (std::uint64_t spin = 0; static_cast<int>(seen.size()) < s.records; ++spin) {
        const std::uint32_t bits = buttonBits(rig.records().controller(1));
        const std::int64_t now = monotonicNanoseconds();
        if (bits != last) {
            seen.emplace_back(now, patternOf(bits));
            last = bits;
            quietSince = Clock::now();
        }
        if ((spin & 1023) == 0 && !rig.sim().running() && Clock::now() - quietSince > milliseconds(1000)) break;
        sched_yield();
    }
    const std::vector<std::int64_t> stamps = rig.stamps();
    if (static_cast<int>(stamps.size()) != s.records) return "the simulator stamped " + std::to_string(stamps.size()) + " records";
    std::vector<std::int64_t> latencies = matchObservations(stamps, seen, kPatterns);
    std::ofstream samples(dir + "/latency.samples");
    for (std::int64_t ns : latencies) samples << ns << "\n";
    figures.latency = latencyFigures(latencies);
    figures.latencyRecords = s.records;
    return "";
}

std::string throughput(const Settings& s, const std::string& dir, Figures& figures) {
    std::ostringstream script;
    script << "wait 1s\n";
    for (int r = 0; r < s.unpaced - 1; ++r) script << "raw " << kSingleButtons[r % kPatterns] << "\n";
    script << "raw " << kLastRecord << "\n";
    Rig rig(s, dir, "throughput", script.str());
    if (!rig.error().empty()) return rig.error();
    const std::uint32_t rewritesBefore = rig.records().controllerRewrites(1);

    std::int64_t lastVisible = 0;
    const auto until = Clock::now() + milliseconds(120000);
    while (Clock::now() < until) {
        if (buttonBits(rig.records().controller(1)) == kLastBits) {
            lastVisible = monotonicNanoseconds();
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    if (lastVisible == 0) return "the last record never reached the storage";
    // The host counts a rewrite only after the device's call returned.
    std::this_thread::sleep_for(milliseconds(200));
    figures.unpacedPublished = rig.records().controllerRewrites(1) - rewritesBefore;
    const std::vector<std::int64_t> stamps = rig.stamps();
    if (stamps.empty()) return "the simulator stamped nothing";
    figures.unpacedRecords = s.unpaced;
    figures.recordsPerSecond = static_cast<double>(s.unpaced) / (static_cast<double>(lastVisible - stamps.front()) * 1e-9);
    return "";
}

std::string silence(const Settings& s, const std::string& dir, Figures& figures) {
    Rig rig(s, dir, "silence", "wait " + std::to_string(s.silenceSeconds + 3) + "s\n");
    if (!rig.error().empty()) return rig.error();
    std::this_thread::sleep_for(milliseconds(1000));
    const std::int64_t before = rig.host().cpuNanoseconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(s.silenceSeconds));
    const std::int64_t after = rig.host().cpuNanoseconds();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (before < 0 || after < 0) return "this system does not report a process's CPU time";
    figures.silentCpuPercent = 100.0 * static_cast<double>(after - before) * 1e-9 / elapsed;
    figures.silenceSeconds = s.silenceSeconds;
    return "";
}

std::string microseconds(double ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f µs", ns / 1000.0);
    return text;
}

std::string tableRows(const Figures& f) {
    std::ostringstream rows;
    char number[64];
    rows << "| Latency, last byte written to change in the storage: median | " << microseconds(f.latency.median)
         << " | |\n";
    rows << "| Latency: 99th percentile | " << microseconds(f.latency.p99) << " | |\n";
    rows << "| Latency: maximum | " << microseconds(f.latency.max) << " | |\n";
    rows << "| Records measured for the latency | " << f.latency.count << " of " << f.latencyRecords
         << " | at least 1000 |\n";
    std::snprintf(number, sizeof number, "%.0f", f.recordsPerSecond);
    rows << "| Records per second, simulator unpaced | " << number << " (" << f.unpacedPublished << " of "
         << f.unpacedRecords << " published) | the line itself: 240 at 9600 baud |\n";
    std::snprintf(number, sizeof number, "%.3f %%", f.silentCpuPercent);
    rows << "| Host CPU while the line is silent for " << f.silenceSeconds << " s | " << number
         << " of one core | under 1 % |\n";
    return rows.str();
}

bool parse(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (arg == "--records") s.records = std::atoi(value);
        else if (arg == "--interval") s.intervalMs = std::atoi(value);
        else if (arg == "--unpaced") s.unpaced = std::atoi(value);
        else if (arg == "--silence") s.silenceSeconds = std::atoi(value);
        else if (arg == "--markdown") s.markdown = value;
        else if (arg == "--host") s.host = value;
        else if (arg == "--sim") s.sim = value;
        else return false;
    }
    return s.records > 0 && s.intervalMs >= 0 && s.unpaced > 0 && s.silenceSeconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: %s [--records N] [--interval MS] [--unpaced N] [--silence S] [--markdown FILE]\n"
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
    } runs[] = {{"latency", latency}, {"throughput", throughput}, {"silence", silence}};
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
