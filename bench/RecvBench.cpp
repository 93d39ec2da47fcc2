// One recvData call over the in-memory line: the plug-in's own work per wand
// record (read, decode, ramp, map, compare, publish), without the system's line.
#include "BenchWand.h"

#include <benchmark/benchmark.h>

namespace {

const std::vector<std::uint8_t> kButton1 = {0x80, 0x01, 0x10, 0x8F};
const std::vector<std::uint8_t> kButtons2And3 = {0x80, 0x13, 0x00, 0xFC};

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> first, const std::vector<std::uint8_t>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// One recvData call per iteration; `fine` judges each call's result, and the
// first it refuses ends the run with `error`.
template <typename Fine>
void receiveEach(benchmark::State& state, BenchWand& wand, Fine fine, const char* error) {
    for (auto _ : state) {
        const std::int32_t result = wand.receive();
        benchmark::DoNotOptimize(result);
        if (!fine(result)) {
            state.SkipWithError(error);
            break;
        }
    }
}

// The two records alternate, so every call decodes a change and publishes it.
void BM_RecvDataDecodeAndPublish(benchmark::State& state) {
    BenchWand wand(kButton1 + kButtons2And3);
    if (!wand.ready()) {
        state.SkipWithError("init failed");
        return;
    }
    receiveEach(
        state, wand, [&](std::int32_t result) { return result == 1 && wand.controllerChanged(); },
        "the record was not published");
}
BENCHMARK(BM_RecvDataDecodeAndPublish);

// The same record over and over: decoded, compared, and nothing published.
void BM_RecvDataUnchangedRecord(benchmark::State& state) {
    BenchWand wand(kButton1);
    if (!wand.ready() || wand.receive() != 1) {
        state.SkipWithError("init or the first call failed");
        return;
    }
    receiveEach(
        state, wand, [&](std::int32_t result) { return result == 1 && !wand.controllerChanged(); },
        "an unchanged record was published");
}
BENCHMARK(BM_RecvDataUnchangedRecord);

// Alternating direction buttons with tracker emulation: valuator 1 swings
// between +1 and -1, so the controller record changes on every call and the
// emulated tracker whenever the clock moved on.
void BM_RecvDataWithTrackerEmulation(benchmark::State& state) {
    const std::vector<std::uint8_t> up = {0x80, 0x06, 0x00, 0x8F};
    const std::vector<std::uint8_t> down = {0x80, 0x02, 0x04, 0x8F};
    BenchWand wand(up + down, {"valrate 1", "emulatetracker 1 [0,0,0,0,0,0] 1 2 1 2 1 2"});
    if (!wand.ready()) {
        state.SkipWithError("init failed");
        return;
    }
    receiveEach(state, wand, [](std::int32_t result) { return result == 1; }, "recvData failed");
}
BENCHMARK(BM_RecvDataWithTrackerEmulation);

}  // namespace
