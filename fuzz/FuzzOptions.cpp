#include "FuzzOptions.h"

FuzzOptions::FuzzOptions(const std::string& deviceName) : list_(new OptionList{}) {
    list_->deviceName = keep(deviceName);
}

char* FuzzOptions::keep(const std::string& text) {
    texts_.push_back(text);
    return &texts_.back()[0];
}

bool FuzzOptions::add(std::uint32_t lineNumber, const std::vector<std::string>& words) {
    if (list_->entryCount >= OptionList::kMaxEntries) return false;
    OptionEntry& entry = list_->entries[list_->entryCount++];
    entry.lineNumber = lineNumber;
    entry.name = keep(words.empty() ? std::string() : words[0]);
    for (std::size_t i = 1; i < words.size() && entry.argCount < OptionEntry::kMaxArgs; ++i) {
        entry.args[entry.argCount++] = keep(words[i]);
    }
    return true;
}
