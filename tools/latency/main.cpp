// quorlix-latency: how long a record takes from the simulator's write of its
// last byte to the host's JSON line about it.
//
// Starts quorlix-sim (unpaced, noting when each record's last byte was
// written) and quorlix-host --json on its line, alternately presses and
// releases button 1 so that every record is one change, stamps each JSON
// line as it arrives and reports the distribution.
#include "ChildProgram.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#ifndef QUORLIX_HOST_PATH
#define QUORLIX_HOST_PATH "quorlix-host"
#endif
#ifndef QUORLIX_SIM_PATH
#define QUORLIX_SIM_PATH "quorlix-sim"
#endif

namespace {

long long monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int usage() {
    std::fputs("usage: quorlix-latency [--records N] [--gap MS] [--host PATH] [--sim PATH]\n"
               "  --records N   records to send, press and release in turn (default 400)\n"
               "  --gap MS      pause after each record (default 20)\n",
               stderr);
    return 2;
}

double percentile(const std::vector<double>& sorted, double p) {
    std::size_t index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    int records = 400;
    int gapMs = 20;
    std::string hostPath = QUORLIX_HOST_PATH;
    std::string simPath = QUORLIX_SIM_PATH;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) return usage();
        if (arg == "--records") records = std::atoi(argv[++i]);
        else if (arg == "--gap") gapMs = std::atoi(argv[++i]);
        else if (arg == "--host") hostPath = argv[++i];
        else if (arg == "--sim") simPath = argv[++i];
        else return usage();
    }
    if (records < 2 || records > 100000 || gapMs < 0) return usage();
    records -= records % 2;

    char pattern[] = "/tmp/quorlix-latency-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string dir = pattern;
    const std::string stamps = dir + "/sent";
    {
        std::ofstream config(dir + "/wand.conf");
        config << "showdate off\nshowtime off\nshowthreadid off\ndevice wand quorlix\nserialport " << dir << "/wand\n";
    }
    std::string script = "repeat " + std::to_string(records / 2) + " { press 1; wait " + std::to_string(gapMs) +
                         "ms; release; wait " + std::to_string(gapMs) + "ms }";
    std::string error;
    host::ChildProgram sim, hostProgram;
    if (!sim.start(simPath, {"--link", dir + "/wand", "--stay", "--quiet", "--stamps", stamps, "-e", script}, error) ||
        sim.port(std::chrono::seconds(5)).empty()) {
        std::fprintf(stderr, "quorlix-latency: starting %s: %s\n", simPath.c_str(), error.c_str());
        return 1;
    }
    if (!hostProgram.start(hostPath, {dir + "/wand.conf", "--json"}, error, true)) {
        std::fprintf(stderr, "quorlix-latency: starting %s: %s\n", hostPath.c_str(), error.c_str());
        return 1;
    }

    // Arrival of each change of button 1, in order.
    std::vector<long long> arrived;
    std::string previous = "none";
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10 + records * (2 * gapMs + 10) / 1000);
    while (static_cast<int>(arrived.size()) < records && std::chrono::steady_clock::now() < until) {
        std::string line;
        if (!hostProgram.readLine(line, 200)) continue;
        long long now = monotonicNs();
        std::string::size_type at = line.find("\"buttons\":[");
        if (at == std::string::npos) continue;
        std::string button = line.substr(at + 11, 1);
        // The first call may time out before the first record and publish the empty record.
        if (arrived.empty() && button == "0") continue;
        if (button == previous) continue;
        previous = button;
        arrived.push_back(now);
    }
    hostProgram.terminate();
    sim.terminate();

    std::vector<long long> sent;
    std::ifstream in(stamps);
    for (long long t; in >> t;) sent.push_back(t);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    std::size_t pairs = std::min(sent.size(), arrived.size());
    if (pairs < static_cast<std::size_t>(records)) {
        std::fprintf(stderr, "quorlix-latency: only %zu of %d records came through\n", pairs, records);
        if (pairs == 0) return 1;
    }
    std::vector<double> ms;
    for (std::size_t i = 0; i < pairs; ++i) ms.push_back(static_cast<double>(arrived[i] - sent[i]) / 1e6);
    std::sort(ms.begin(), ms.end());
    std::printf("records %zu  median %.3f ms  p90 %.3f ms  p99 %.3f ms  min %.3f ms  max %.3f ms\n", pairs,
                percentile(ms, 0.5), percentile(ms, 0.9), percentile(ms, 0.99), ms.front(), ms.back());
    return 0;
}
