#include "BenchWand.h"

#include "MemoryLine.h"

#include <iostream>
#include <sstream>
#include <string>

extern "C" CBase* createDev(OptionList* config, CLogH* hostLogger);
extern "C" bool deleteDev(CBase* device);

char* BenchWand::keep(const std::string& text) {
    texts_.push_back(text);
    return &texts_.back()[0];
}

BenchWand::BenchWand(const std::vector<std::uint8_t>& lineBytes, const std::vector<std::string>& optionLines)
    : options_() {
    memoryline::repeat(lineBytes);
    options_.deviceName = keep("bench wand");
    for (const std::string& line : optionLines) {
        if (options_.entryCount >= OptionList::kMaxEntries) break;
        OptionEntry& entry = options_.entries[options_.entryCount];
        entry.lineNumber = ++options_.entryCount;
        std::istringstream words(line);
        std::string word;
        words >> word;
        entry.name = keep(word);
        while (words >> word && entry.argCount < OptionEntry::kMaxArgs) entry.args[entry.argCount++] = keep(word);
    }
    logger_.showDate = logger_.showTime = logger_.showThreadId = false;

    std::ostringstream report;
    std::streambuf* saved = std::cout.rdbuf(report.rdbuf());
    device_ = createDev(&options_, &logger_);
    ready_ = device_ != nullptr && device_->init(host_.initInfo()) == 1;
    std::cout.rdbuf(saved);
}

BenchWand::~BenchWand() {
    if (device_ == nullptr) return;
    device_->stop();
    deleteDev(device_);
}
