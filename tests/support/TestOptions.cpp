#include "TestOptions.h"

#include <sstream>

TestOptions::TestOptions(const std::string& deviceName) : list_(new OptionList{}) {
    list_->deviceName = keep(deviceName);
}

char* TestOptions::keep(const std::string& text) {
    texts_.push_back(text);
    return &texts_.back()[0];
}

TestOptions& TestOptions::line(std::uint32_t lineNumber, const std::string& text) {
    OptionEntry& e = list_->entries[list_->entryCount++];
    e.lineNumber = lineNumber;
    std::istringstream words(text);
    std::string word;
    words >> word;
    e.name = keep(word);
    while (words >> word) e.args[e.argCount++] = keep(word);
    return *this;
}

CLogH quietLogger(const char* name, std::int32_t debugLevel) {
    CLogH logger;
    logger.showDate = false;
    logger.showTime = false;
    logger.showThreadId = false;
    logger.setName(name);
    logger.debugLevel = debugLevel;
    return logger;
}
