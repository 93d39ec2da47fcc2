// The per-call steps between decoding and publication: both valuator ramps,
// and the controller mapping of the wand's 2 valuators and 11 buttons into
// its work record (scale polynomials, orders, fixed point, number).
#include "controller/CConCommonH.h"
#include "plugin/ValuatorRamp.h"
#include "storage/ByteOrder.h"
#include "storage/ConData.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

// Buttons 8 and 10 held for 16 calls, released for 16: both valuators ramp
// up, clamp, and return, so every rule of the ramp runs.
void BM_ValuatorRamp(benchmark::State& state) {
    float values[2] = {0.0f, 0.0f};
    std::int32_t buttons[11] = {};
    std::uint32_t call = 0;
    for (auto _ : state) {
        const std::int32_t held = (call++ & 16) == 0 ? 1 : 0;
        buttons[7] = held;
        buttons[9] = held;
        rampWandValuators(values, buttons, 0.1f, 0.2f);
        benchmark::DoNotOptimize(values);
    }
}
BENCHMARK(BM_ValuatorRamp);

void BM_ControllerMapping(benchmark::State& state) {
    CConCommonH common(nullptr);
    common.outputControllerCount = 1;
    if (!common.createControllerList(1, true) || !common.setControllerDefaults(1, 1, 2, 11)) {
        state.SkipWithError("controller list");
        return;
    }
    ConData record;
    record.reset();
    record.valuatorCount = hostToNet(2);
    record.buttonCount = hostToNet(11);
    float values[2] = {0.25f, -0.5f};
    std::int32_t buttons[11] = {1, 0, 1, 0, 0, 0, 0, 1, 0, 1, 0};
    for (auto _ : state) {
        values[0] = -values[0];
        buttons[0] ^= 1;
        common.mapController(1, values, 2, buttons, 11, record);
        benchmark::DoNotOptimize(record);
    }
}
BENCHMARK(BM_ControllerMapping);

}  // namespace
