// Any option lines for the wand, read by all three option parsers (the
// driver's, the controller part's and, once a line sets up tracker emulation,
// the tracker part's) through init: init returns 1 or -1, claims at most its
// own entries, and a device that started publishes well-formed records.
//
// Input: text; each line is one option line (at most 32, further lines are
// dropped), its words split on single blanks (so empty arguments occur): the
// first word is the option's name, the others its arguments (at most 64).
// Any port name opens the in-memory line; library names never reach the
// system's loader.
#include "FuzzHost.h"
#include "FuzzOptions.h"
#include "MemoryLine.h"
#include "QuietStdout.h"
#include "plugin/CBase.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" CBase* createDev(OptionList* config, CLogH* hostLogger);
extern "C" bool deleteDev(CBase* device);

namespace {

// Buttons 3, 5, 8 and 10 (both valuators ramp up), then a text record.
const std::uint8_t kLine[] = {0x80, 0x0F, 0x00, 0x8F, 0x82, 'O', 'K', 0xFC};

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t blank = line.find(' ', start);
        words.push_back(line.substr(start, blank == std::string::npos ? std::string::npos : blank - start));
        if (blank == std::string::npos) return words;
        start = blank + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QuietStdout quiet;
    FuzzHost host;
    FuzzOptions options("fuzz wand");
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::uint32_t lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (!options.add(++lineNumber, splitWords(text.substr(start, end - start)))) break;
        start = end + 1;
    }

    // Every owner's DEBUG lines, so their formatting runs too.
    CLogH logger;
    logger.showDate = logger.showTime = logger.showThreadId = false;
    logger.debugLevel = 4;
    memoryline::serve(kLine, sizeof kLine);

    CBase* device = createDev(options.list(), &logger);
    require(device != nullptr, "createDev gives a device");
    const std::int32_t ready = device->init(host.initInfo());
    require(ready == 1 || ready == -1, "init returns 1 or -1");
    require(host.controllers.count() <= 1 && host.trackers.count() <= 1, "at most its own entries claimed");
    require(host.controllers.untouchedFrom(2) && host.trackers.untouchedFrom(2), "other entries untouched");
    if (ready == 1) {
        for (int call = 0; call < 3; ++call) {
            std::memset(host.masks, 0, sizeof host.masks);
            const std::int32_t result = device->recvData(host.masks, 0);
            require(result == 1 || result == -1, "recvData returns 1 or -1");
            requireMasksOfEntryOne(host.masks);
            requireWandRecord(host.controllers.con(1), 0);
            if (host.trackers.count() == 1) requireTrackerRecord(host.trackers.tra(1));
            require(host.controllers.untouchedFrom(2) && host.trackers.untouchedFrom(2), "other entries untouched");
        }
    }
    device->stop();
    deleteDev(device);
    return 0;
}
