// Any byte stream on the wand's line, read through the whole plug-in
// (createDev, init, recvData until the stream is used up, stop, deleteDev):
// every call returns 1 or -1, and what the host finds in its storages and
// change masks stays well formed, with both valuators within [-1, 1].
//
// Input: four setting bytes, then the stream.
//   byte 0, bit 0: the device's DEBUG lines on (key dumps, text records)
//           bit 1: controller 1 drives an emulated tracker
//           bit 2: the read that reaches the position in byte 3 fails
//           bit 3: the host clears its keep-running flag when the reader reaches that position
//   byte 1: the increment rate (index into kRates)
//   byte 2: the decrement rate (index into kRates; past its end: not given, so twice the increment)
//   byte 3: the position in the stream
#include "FuzzHost.h"
#include "FuzzOptions.h"
#include "MemoryLine.h"
#include "QuietStdout.h"
#include "plugin/CBase.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

extern "C" CBase* createDev(OptionList* config, CLogH* hostLogger);
extern "C" bool deleteDev(CBase* device);

namespace {

constexpr std::size_t kSettings = 4;

// Non-negative rates as a host would write them, up to ones beyond float's range.
const char* const kRates[] = {"0", "0.05", "0.1", ".5", "1", "2", "0.3333333", "1e-7", "7", "1e30", "3.4e38", "1e39"};
constexpr std::size_t kRateCount = std::size(kRates);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kSettings) return 0;
    const std::uint8_t settings = data[0];
    const bool debugOn = (settings & 0x01) != 0;
    const bool emulating = (settings & 0x02) != 0;
    const bool failingRead = (settings & 0x04) != 0;
    const bool flagCleared = (settings & 0x08) != 0;
    const std::size_t position = data[3];

    QuietStdout quiet;
    FuzzHost host;
    FuzzOptions options("fuzz wand");
    options.add(1, {"port", "memory"});
    options.add(2, {"valrate", kRates[data[1] % kRateCount]});
    if (data[2] % (kRateCount + 1) < kRateCount) options.add(3, {"valdecrementrate", kRates[data[2] % (kRateCount + 1)]});
    if (emulating) options.add(4, {"emulatetracker", "1", "[0,0,0,0,0,0]", "1", "2", "1", "2", "0", "0"});

    CLogH logger;
    logger.showDate = logger.showTime = logger.showThreadId = false;
    logger.debugLevel = debugOn ? 1 : 0;

    memoryline::serve(data + kSettings, size - kSettings);
    if (failingRead) memoryline::failReadAt(position);
    if (flagCleared) memoryline::clearFlagAt(position, &host.keepRunning);

    CBase* device = createDev(options.list(), &logger);
    require(device != nullptr, "createDev gives a device");
    require(device->init(host.initInfo()) == 1, "init of a valid configuration succeeds");
    require(host.controllers.count() == 1 && host.trackers.count() == (emulating ? 1u : 0u), "one entry claimed");

    // Every call but the last consumes at least one byte, so this ends.
    for (;;) {
        const bool lastCall = memoryline::exhausted();
        std::memset(host.masks, 0, sizeof host.masks);
        const std::int32_t result = device->recvData(host.masks, 0);
        require(result == 1 || result == -1, "recvData returns 1 or -1");
        requireMasksOfEntryOne(host.masks);
        requireWandRecord(host.controllers.con(1), 1000);
        if (emulating) requireTrackerRecord(host.trackers.tra(1));
        host.keepRunning = 1;
        if (lastCall) break;
    }
    // A stray write would stay, so one look at the end finds it.
    require(host.controllers.untouchedFrom(2), "controller entries of other devices untouched");
    require(host.trackers.untouchedFrom(emulating ? 2 : 1), "tracker entries of other devices untouched");
    device->stop();
    deleteDev(device);
    return 0;
}
