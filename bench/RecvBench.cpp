#include "BenchHost.h"
#include "MemorySerialLine.h"
#include "plugin/CBase.h"
#include "support/OptionList.h"

#include <benchmark/benchmark.h>

#include <iostream>
#include <sstream>

extern "C" CBase* createDev(OptionList* config, CLogH* hostLogger);
extern "C" bool deleteDev(CBase* device);

namespace {

// Each call reads one whole key record; the two records alternate, so every
// call decodes a change and publishes it.
void BM_RecvDataDecodeAndPublish(benchmark::State& state) {
    setMemoryLineBytes({0x80, 0x01, 0x10, 0x8F, 0x80, 0x13, 0x00, 0xFC});
    static OptionList options{};
    char name[] = "bench wand";
    options.deviceName = name;
    CLogH logger;
    logger.showDate = logger.showTime = logger.showThreadId = false;
    BenchHost host;

    // The device report of init is not what is measured.
    std::ostringstream report;
    std::streambuf* saved = std::cout.rdbuf(report.rdbuf());
    CBase* device = createDev(&options, &logger);
    const std::int32_t ready = device != nullptr ? device->init(host.initInfo()) : -1;
    std::cout.rdbuf(saved);
    if (ready != 1) {
        state.SkipWithError("init failed");
        deleteDev(device);
        return;
    }
    for (auto _ : state) {
        const std::int32_t result = device->recvData(host.masks(), 0);
        benchmark::DoNotOptimize(result);
        if (result != 1 || host.masks()[7] != 1) {
            state.SkipWithError("the record was not published");
            break;
        }
    }
    device->stop();
    deleteDev(device);
}
BENCHMARK(BM_RecvDataDecodeAndPublish);

}  // namespace

BENCHMARK_MAIN();
