// What logging costs on the data path: a DEBUG call that the levels suppress
// (recvData makes one per call), a suppressed debugFormat (which formats
// before it filters), and one whole INFO line written to /dev/null.
#include "support/CLogH.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iostream>

namespace {

// A logger as a host hands it over: debug output off.
CLogH hostLogger() {
    CLogH logger;
    logger.setName("CQuorlix");
    const std::int32_t ownLevel = 1;
    logger.setOwnDebugLevel(ownLevel);
    return logger;
}

void BM_DebugSuppressed(benchmark::State& state) {
    const CLogH logger = hostLogger();
    for (auto _ : state) {
        logger.debug("CQuorlix: \"recvData\" called.", true);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DebugSuppressed);

void BM_DebugFormatSuppressed(benchmark::State& state) {
    const CLogH logger = hostLogger();
    const char* name = "com2";
    for (auto _ : state) {
        logger.debugFormat("CRS232H: Opening %s.\n", name);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DebugFormatSuppressed);

// Date, time and thread id in the prefix, as a default logger writes them;
// each line ends with a flush, so one write to the device per line.
void BM_InfoLineToDevNull(benchmark::State& state) {
    std::ofstream devNull("/dev/null");
    std::streambuf* saved = std::cout.rdbuf(devNull.rdbuf());
    const CLogH logger = hostLogger();
    for (auto _ : state) {
        logger.info("DEVICE TYPE           : Quorlix(tm)", true);
    }
    std::cout.rdbuf(saved);
}
BENCHMARK(BM_InfoLineToDevNull);

}  // namespace
