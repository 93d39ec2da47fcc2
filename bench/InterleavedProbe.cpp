#include "InterleavedProbe.h"

#include "MonotonicClock.h"

#include <sched.h>

#include <algorithm>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

void measureInterleaved(std::vector<MeasuredPath>& paths, const std::uint8_t (*bodies)[2], int patterns,
                        const ProbeSettings& settings) {
    std::vector<BenchLine*> lines;
    for (const MeasuredPath& path : paths) {
        if (std::find(lines.begin(), lines.end(), path.line) == lines.end()) lines.push_back(path.line);
    }
    const int total = settings.recordsPerLine * static_cast<int>(lines.size());
    const std::int64_t patience = std::chrono::nanoseconds(settings.patience).count();
    const std::int64_t spinFor = std::chrono::nanoseconds(settings.spinFor).count();
    std::vector<MeasuredPath*> pending;
    // Each round writes to every line once, in an order of its own and at
    // times off the beat, so no path keeps a place in the round or a phase
    // of the system's clock tick that the others never get.
    std::mt19937 random(12345);
    std::uniform_int_distribution<long> offBeat(0, std::chrono::microseconds(settings.interval).count() / 2);
    std::vector<BenchLine*> round;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < total; ++i) {
        if (round.empty()) {
            round.assign(lines.rbegin(), lines.rend());
            std::shuffle(round.begin(), round.end(), random);
        }
        BenchLine* line = round.back();
        round.pop_back();
        const int pattern = (i / static_cast<int>(lines.size())) % patterns;
        const std::uint8_t record[4] = {0x80, bodies[pattern][0], bodies[pattern][1], 0x8F};
        const std::uint32_t expected = 1u << pattern;
        pending.clear();
        for (MeasuredPath& path : paths) {
            if (path.line == line) pending.push_back(&path);
        }
        std::this_thread::sleep_until(start + i * settings.interval + std::chrono::microseconds(offBeat(random)));

        const std::int64_t written = monotonicNanoseconds();
        if (!line->write(record, sizeof record)) break;
        while (!pending.empty()) {
            for (auto p = pending.begin(); p != pending.end();) {
                if ((*p)->buttons() == expected) {
                    (*p)->latencies.push_back(monotonicNanoseconds() - written);
                    p = pending.erase(p);
                } else {
                    ++p;
                }
            }
            const std::int64_t waited = monotonicNanoseconds() - written;
            if (waited > patience) break;
            if (spinFor >= 0 && waited > spinFor) {
                std::this_thread::sleep_for(settings.pause);
            } else {
                sched_yield();
            }
        }
        for (MeasuredPath* path : pending) ++path->missed;
    }
}
