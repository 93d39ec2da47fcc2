// The wand end to end, as a user runs it: quorlix-host runs the plug-in on a
// pseudo-terminal and keeps the storages in shared memory, and this probe
// reads them like any other program.
//
//   latency     from the moment the write of a record begins to the moment the
//               changed record can be read from the host's storage, and to
//               the moment a VRPN client of the host has it, side by side
//               with the floor (FloorReader) on a line of its own, records
//               interleaved; idle, under load (one busy thread per core) and
//               under load with the host's --realtime
//   syscalls    system calls of the device's thread per record (strace)
//   throughput  records per second with quorlix-sim writing unpaced
//   silence     the host's CPU time and wake-ups while the line stays silent
//
// Prints the figures, and with --markdown FILE writes them as table rows.
#include "BenchLine.h"
#include "BusyLoad.h"
#include "FloorReader.h"
#include "HostRig.h"
#include "InterleavedProbe.h"
#include "LatencyFigures.h"
#include "MonotonicClock.h"
#include "OptionPairs.h"
#include "SharedRecords.h"
#include "VrpnButtonClient.h"
#include "WorkFiles.h"

#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The host's device threads with --realtime and no number; the floor reader
// gets the same, the probe less (it must never keep a reader off a core).
constexpr int kRealtimePriority = 10;
constexpr int kProbePriority = 5;

struct Settings {
    int records = 2000;  // per measured path and condition
    int intervalMs = 5;
    int unpaced = 20000;
    int silenceSeconds = 10;
    int syscallRecords = 2000;
    std::string conditions = "idle,load,realtime";
    std::string markdown;
    std::string host = QUORLIX_HOST_PATH;
    std::string sim = QUORLIX_SIM_PATH;
};

// Key records of buttons 1 to 7 alone: each differs from the one before, and
// the state in the storage tells which of the seven was last.
constexpr int kPatterns = 7;
const std::uint8_t kBodies[kPatterns][2] = {{0x01, 0x10}, {0x11, 0x00}, {0x03, 0x00}, {0x08, 0x04},
                                            {0x0C, 0x00}, {0x00, 0x0C}, {0x04, 0x08}};
// Buttons 2 and 3 together: none of the seven, so it marks the end.
const char* const kLastRecord = "80 13 00 8F";
constexpr std::uint32_t kLastBits = (1u << 1) | (1u << 2);

std::string recordText(int pattern) {
    char text[16];
    std::snprintf(text, sizeof text, "80 %02X %02X 8F", kBodies[pattern][0], kBodies[pattern][1]);
    return text;
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// The calling thread's scheduling: SCHED_FIFO at `priority`, or normal for 0.
bool scheduleThisThread(int priority) {
    sched_param p{};
    p.sched_priority = priority;
    return pthread_setschedparam(pthread_self(), priority > 0 ? SCHED_FIFO : SCHED_OTHER, &p) == 0;
}

// The programs of --host and --sim, as a rig starts them.
RigStart programs(const Settings& s) {
    RigStart start;
    start.host = s.host;
    start.sim = s.sim;
    return start;
}

// The port the host's VRPN server found, from its line "VRPN: listening on
// ADDRESS, port N (TCP and UDP)"; 0 when none came within `timeout`.
int vrpnPort(const std::string& log, milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    do {
        std::ifstream in(log);
        std::string line;
        while (std::getline(in, line)) {
            const auto listening = line.find("VRPN: listening on ");
            const auto port = listening == std::string::npos ? listening : line.find(", port ", listening);
            if (port != std::string::npos) return std::atoi(line.c_str() + port + 7);
        }
        std::this_thread::sleep_for(milliseconds(10));
    } while (Clock::now() < until);
    return 0;
}

struct Condition {
    const char* key;   // for --conditions
    const char* name;  // as printed
    bool load;
    bool realtime;
};
const Condition kConditions[] = {
    {"idle", "idle", false, false},
    {"load", "under load", true, false},
    {"realtime", "under load with --realtime", true, true},
};

struct PathFigures {
    std::string name;
    LatencyFigures latency;
    int missed = 0;
};

struct ConditionFigures {
    const Condition* condition = nullptr;
    std::vector<PathFigures> paths;  // the host first, the floor last, others between
    std::string loadAverage;
    std::string note;
};

struct Figures {
    std::vector<ConditionFigures> conditions;
    int latencyRecords = 0;
    double syscallsPerRecord = -1;
    std::map<std::string, long> syscallsByName;
    int syscallRecords = 0;
    double recordsPerSecond = 0;
    int unpacedRecords = 0;
    std::uint32_t unpacedPublished = 0;
    double silentCpuPercent = -1;
    double silentWakeUpsPerSecond = -1;
    int silenceSeconds = 0;
};

std::string latencyUnder(const Settings& s, const std::string& dir, const Condition& condition, Figures& figures) {
    BenchLine hostLine, floorLine;
    if (!hostLine.ok() || !floorLine.ok()) return "no pseudo-terminal";
    const int priority = condition.realtime ? kRealtimePriority : 0;
    // The floor first: it forks, and this process should have no other threads then.
    FloorReader floor(kBodies, kPatterns);
    std::string error = floor.start(floorLine.name(), priority, milliseconds(5000));
    if (!error.empty()) return error;
    RigStart start = programs(s);
    start.line = hostLine.name();
    if (condition.realtime) start.hostOptions = {"--realtime", std::to_string(priority)};
    start.hostOptions.insert(start.hostOptions.end(), {"--vrpn", "127.0.0.1:0"});
    HostRig host(start, dir, std::string("latency-") + condition.key, "");
    if (!host.error().empty()) return host.error();
    const int port = vrpnPort(host.hostLog(), milliseconds(5000));
    if (port <= 0) return "quorlix-host named no VRPN port; see " + host.hostLog();
    // An application's client. Idle, it looks without a pause, as a main
    // loop on a core of its own does; under load no core is its own, and it
    // sleeps until the bytes come (at the floor reader's priority).
    VrpnButtonClient vrpn("wand");
    VrpnButtonClient::Waiting waiting;
    waiting.looks = !condition.load;
    waiting.fifoPriority = priority;
    error = vrpn.start("127.0.0.1", port, waiting, milliseconds(5000));
    if (!error.empty()) return error;

    // The host first, the floor last (the tables compare those two); the
    // paths that go on from the host's records go between them.
    std::vector<MeasuredPath> paths(3);
    paths[0].name = "host";
    paths[0].line = &hostLine;
    paths[0].buttons = [&host] { return buttonBits(host.records().controller(1)); };
    paths[1].name = "vrpn";
    paths[1].line = &hostLine;
    paths[1].buttons = [&vrpn] { return vrpn.buttons(); };
    paths[2].name = "floor";
    paths[2].line = &floorLine;
    paths[2].buttons = [&floor] { return floor.buttons(); };

    ProbeSettings probe;
    probe.recordsPerLine = s.records;
    probe.interval = milliseconds(s.intervalMs);
    // A probe at real-time priority that polled back to back would keep the
    // kernel's worker that passes the line's bytes on off its core; it pauses
    // between looks instead. At normal priority it looks back to back, which
    // keeps an idle core awake as a reader's busy loop would.
    if (condition.realtime) probe.spinFor = std::chrono::microseconds(0);
    const auto expected = std::chrono::duration_cast<std::chrono::seconds>(
        probe.interval * (probe.recordsPerLine * 2) + probe.patience * 20);
    ConditionFigures result;
    result.condition = &condition;
    {
        std::unique_ptr<BusyLoad> load;
        if (condition.load) {
            load.reset(new BusyLoad(std::max(1u, std::thread::hardware_concurrency()), expected + std::chrono::seconds(30)));
            std::this_thread::sleep_for(milliseconds(1000));
        }
        if (condition.realtime && !scheduleThisThread(kProbePriority)) result.note = "the probe ran at normal priority";
        measureInterleaved(paths, kBodies, kPatterns, probe);
        scheduleThisThread(0);
        result.loadAverage = loadAverage();
    }
    for (MeasuredPath& path : paths) {
        std::ofstream samples(dir + "/latency-" + condition.key + "-" + path.name + ".samples");
        for (std::int64_t ns : path.latencies) samples << ns << "\n";
        result.paths.push_back({path.name, latencyFigures(path.latencies), path.missed});
    }
    figures.conditions.push_back(result);
    figures.latencyRecords = s.records;
    return "";
}

// The host's process id under strace: strace's only child.
pid_t childOf(pid_t parent) {
    std::ifstream children("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children");
    pid_t child = -1;
    children >> child;
    return child;
}

std::string syscalls(const Settings& s, const std::string& dir, Figures& figures) {
    std::ostringstream script;
    script << "wait 1s\n";
    for (int r = 0; r < s.syscallRecords; ++r) script << "raw " << recordText(r % kPatterns) << "\nwait " << s.intervalMs << "ms\n";
    // The line stays until the host has gone: a line that hangs up makes calls of its own.
    script << "wait 60s\n";
    const std::string trace = dir + "/syscalls.strace";
    RigStart start = programs(s);
    start.prefix = {"strace", "-f", "-qq", "-o", trace};
    {
        HostRig rig(start, dir, "syscalls", script.str());
        if (!rig.error().empty()) return rig.error() + " (is strace installed?)";
        const std::uint32_t lastBits = 1u << ((s.syscallRecords - 1) % kPatterns);
        const auto until = Clock::now() + milliseconds(s.syscallRecords * (s.intervalMs + 5) + 20000);
        while (Clock::now() < until && !(rig.records().controllerRewrites(1) >= static_cast<std::uint32_t>(s.syscallRecords) &&
                                         buttonBits(rig.records().controller(1)) == lastBits)) {
            std::this_thread::sleep_for(milliseconds(50));
        }
        const pid_t host = childOf(rig.host().pid());
        if (host > 0) ::kill(host, SIGTERM);
        rig.host().wait(milliseconds(10000));
    }
    // Lines are "TID name(arguments) = result"; a call another thread's line
    // cut in two shows as "<unfinished ...>" and "<... name resumed>": counted once.
    std::ifstream in(trace);
    std::map<long, std::vector<std::string>> byThread;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        long tid = 0;
        std::string call;
        if (!(words >> tid >> call) || call.compare(0, 3, "<..") == 0 || call.compare(0, 3, "+++") == 0 ||
            call.compare(0, 3, "---") == 0) {
            continue;
        }
        const bool oneByte = line.size() > 4 && line.compare(line.size() - 4, 4, " = 1") == 0;
        byThread[tid].push_back(oneByte && call.compare(0, 5, "read(") == 0 ? "read:1" : call.substr(0, call.find('(')));
    }
    // The device's thread is the one that reads the line; counted from the
    // first byte it read to the last, so starting and stopping stay out.
    const std::vector<std::string>* device = nullptr;
    long mostBytes = 0;
    for (const auto& thread : byThread) {
        const long bytes = std::count(thread.second.begin(), thread.second.end(), "read:1");
        if (bytes > mostBytes) {
            mostBytes = bytes;
            device = &thread.second;
        }
    }
    if (device == nullptr) return "no thread of the host read the line (see " + trace + ")";
    const auto first = std::find(device->begin(), device->end(), "read:1");
    const auto last = std::find(device->rbegin(), device->rend(), "read:1").base();
    long total = 0;
    figures.syscallsByName.clear();
    for (auto call = first; call != last; ++call) {
        ++figures.syscallsByName[*call == "read:1" ? "read" : *call];
        ++total;
    }
    figures.syscallRecords = static_cast<int>(mostBytes / 4);
    figures.syscallsPerRecord = static_cast<double>(total) / figures.syscallRecords;
    return "";
}

std::string throughput(const Settings& s, const std::string& dir, Figures& figures) {
    std::ostringstream script;
    script << "wait 1s\n";
    for (int r = 0; r < s.unpaced - 1; ++r) script << "raw " << recordText(r % kPatterns) << "\n";
    script << "raw " << kLastRecord << "\n";
    HostRig rig(programs(s), dir, "throughput", script.str());
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
    HostRig rig(programs(s), dir, "silence", "wait " + std::to_string(s.silenceSeconds + 3) + "s\n");
    if (!rig.error().empty()) return rig.error();
    std::this_thread::sleep_for(milliseconds(1000));
    const std::int64_t before = rig.host().cpuNanoseconds();
    const std::int64_t sleepsBefore = rig.host().sleeps();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(s.silenceSeconds));
    const std::int64_t after = rig.host().cpuNanoseconds();
    const std::int64_t sleepsAfter = rig.host().sleeps();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (before < 0 || after < 0 || sleepsBefore < 0 || sleepsAfter < 0) return "this system does not report a process's CPU time";
    figures.silentCpuPercent = 100.0 * static_cast<double>(after - before) * 1e-9 / elapsed;
    figures.silentWakeUpsPerSecond = static_cast<double>(sleepsAfter - sleepsBefore) / elapsed;
    figures.silenceSeconds = s.silenceSeconds;
    return "";
}

double us(double ns) { return ns / 1000.0; }

const PathFigures* pathNamed(const ConditionFigures& c, const std::string& name) {
    for (const PathFigures& p : c.paths) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// latency idle: host p50 X us p99 Y us, floor p50 X us p99 Y us
std::string latencyLine(const ConditionFigures& c) {
    std::string line = std::string("latency ") + c.condition->name + ":";
    for (std::size_t p = 0; p < c.paths.size(); ++p) {
        line += (p == 0 ? " " : ", ") + c.paths[p].name + " p50 " + fixed(us(c.paths[p].latency.median), 1) + " us p99 " +
                fixed(us(c.paths[p].latency.p99), 1) + " us";
    }
    return line;
}

// One table: a row per condition, a column pair per path, then how far the
// host is off the floor (the p50 difference and the p99 ratio) and the VRPN
// client off the host.
std::string latencyTable(const Figures& f) {
    if (f.conditions.empty()) return "";
    std::ostringstream rows;
    const ConditionFigures& first = f.conditions.front();
    rows << "| Condition |";
    for (const PathFigures& p : first.paths) rows << " " << p.name << " p50 | " << p.name << " p99 |";
    rows << " host p50 − floor p50 | host p99 ÷ floor p99 | host p99 ÷ idle floor p99 | vrpn p50 − host p50 | records seen |"
            " load average (1, 5, 15 min) |\n";
    rows << "|---|";
    for (std::size_t p = 0; p < first.paths.size(); ++p) rows << "---|---|";
    rows << "---|---|---|---|---|---|\n";
    const double idleFloorP99 = first.paths.back().latency.p99;
    for (const ConditionFigures& c : f.conditions) {
        const PathFigures& host = c.paths.front();
        const PathFigures& floor = c.paths.back();
        rows << "| " << c.condition->name << (c.note.empty() ? "" : " (" + c.note + ")") << " |";
        for (const PathFigures& p : c.paths) rows << " " << fixed(us(p.latency.median), 1) << " µs | " << fixed(us(p.latency.p99), 1) << " µs |";
        rows << " " << fixed(us(host.latency.median - floor.latency.median), 1) << " µs | "
             << fixed(host.latency.p99 / floor.latency.p99, 2) << "× | "
             << (first.condition->key == std::string("idle") ? fixed(host.latency.p99 / idleFloorP99, 2) + "×" : "—") << " |";
        const PathFigures* vrpn = pathNamed(c, "vrpn");
        rows << " " << (vrpn ? fixed(us(vrpn->latency.median - host.latency.median), 1) + " µs" : "—") << " |";
        std::string seen;
        for (const PathFigures& p : c.paths) {
            seen += (seen.empty() ? "" : ", ") + std::to_string(p.latency.count) + " of " + std::to_string(f.latencyRecords);
        }
        rows << " " << seen << " | " << c.loadAverage << " |\n";
    }
    return rows.str();
}

std::string figureRows(const Figures& f) {
    std::ostringstream rows;
    for (const ConditionFigures& c : f.conditions) {
        const PathFigures* vrpn = pathNamed(c, "vrpn");
        if (vrpn == nullptr) continue;
        rows << "| VRPN client, " << c.condition->name << ": median above the host's storage | "
             << fixed(us(vrpn->latency.median - c.paths.front().latency.median), 1) << " µs | at most 50 µs |\n";
        rows << "| VRPN client, " << c.condition->name << ": 99th percentile | " << fixed(us(vrpn->latency.p99), 1)
             << " µs | at most 1 ms |\n";
    }
    if (f.syscallsPerRecord >= 0) {
        std::string calls;
        for (const auto& call : f.syscallsByName) {
            calls += (calls.empty() ? "" : ", ") + call.first + " " + fixed(static_cast<double>(call.second) / f.syscallRecords, 2);
        }
        rows << "| System calls of the device's thread per record | " << fixed(f.syscallsPerRecord, 2) << " (" << calls
             << ") | at most 6 |\n";
    }
    if (f.unpacedRecords > 0) {
        rows << "| Records per second, simulator unpaced | " << fixed(f.recordsPerSecond, 0) << " (" << f.unpacedPublished
             << " of " << f.unpacedRecords << " published) | the line itself: 240 at 9600 baud |\n";
    }
    if (f.silenceSeconds > 0) {
        rows << "| Host CPU while the line is silent for " << f.silenceSeconds << " s | " << fixed(f.silentCpuPercent, 3)
             << " % of one core | under 1 % |\n";
        rows << "| Host wake-ups per second on a silent line (all threads) | " << fixed(f.silentWakeUpsPerSecond, 1)
             << " | at most 11 |\n";
    }
    return rows.str();
}

bool parse(int argc, char** argv, Settings& s) {
    return readOptionPairs(argc, argv,
                           {{"--records", numberOption(s.records)},
                            {"--interval", numberOption(s.intervalMs)},
                            {"--unpaced", numberOption(s.unpaced)},
                            {"--silence", numberOption(s.silenceSeconds)},
                            {"--syscall-records", numberOption(s.syscallRecords)},
                            {"--conditions", textOption(s.conditions)},
                            {"--markdown", textOption(s.markdown)},
                            {"--host", textOption(s.host)},
                            {"--sim", textOption(s.sim)}}) &&
           s.records > 0 && s.intervalMs >= 0 && s.unpaced >= 0 && s.silenceSeconds >= 0 && s.syscallRecords >= 0;
}

bool wanted(const std::string& list, const char* key) {
    std::istringstream words(list);
    std::string word;
    while (std::getline(words, word, ',')) {
        if (word == key) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr,
                     "usage: %s [--records N] [--interval MS] [--conditions idle,load,realtime]\n"
                     "          [--syscall-records N] [--unpaced N] [--silence S] [--markdown FILE]\n"
                     "          [--host PATH] [--sim PATH]\n"
                     "A count of 0 leaves that run out; --conditions may name none (\"\").\n",
                     argv[0]);
        return 2;
    }
    const std::string dir = makeWorkDirectory();
    if (dir.empty()) return 1;

    Figures figures;
    const auto fail = [](const char* run, const std::string& error) {
        std::fprintf(stderr, "%s: %s\n", run, error.c_str());
        return 1;
    };
    for (const Condition& condition : kConditions) {
        if (!wanted(settings.conditions, condition.key)) continue;
        std::printf("latency %s ...\n", condition.name);
        std::fflush(stdout);
        const std::string error = latencyUnder(settings, dir, condition, figures);
        if (!error.empty()) return fail("latency", error);
        std::printf("%s\n", latencyLine(figures.conditions.back()).c_str());
        std::printf("  load average %s%s\n", figures.conditions.back().loadAverage.c_str(),
                    figures.conditions.back().note.empty() ? "" : ("; " + figures.conditions.back().note).c_str());
        std::fflush(stdout);
    }
    const struct {
        const char* name;
        int count;
        std::string (*run)(const Settings&, const std::string&, Figures&);
    } runs[] = {{"syscalls", settings.syscallRecords, syscalls},
                {"throughput", settings.unpaced, throughput},
                {"silence", settings.silenceSeconds, silence}};
    for (const auto& run : runs) {
        if (run.count == 0) continue;
        std::printf("%s ...\n", run.name);
        std::fflush(stdout);
        const std::string error = run.run(settings, dir, figures);
        if (!error.empty()) return fail(run.name, error);
    }
    const std::string tables = latencyTable(figures) + "\n" + figureRows(figures);
    std::printf("%s", tables.c_str());
    if (!settings.markdown.empty()) {
        if (!writeFile(settings.markdown + ".latency", latencyTable(figures)) || !writeFile(settings.markdown, figureRows(figures))) {
            std::fprintf(stderr, "cannot write %s\n", settings.markdown.c_str());
            return 1;
        }
    }
    return 0;
}
