#include "OptionBlock.h"

#include <algorithm>

namespace host {

OptionBlock::OptionBlock(const DeviceConfig& device) : list_(new OptionList{}) {
    list_->deviceName = keep(device.name);
    std::size_t lines = std::min<std::size_t>(device.options.size(), OptionList::kMaxEntries);
    for (std::size_t i = 0; i < lines; ++i) {
        const OptionLine& line = device.options[i];
        OptionEntry& entry = list_->entries[i];
        entry.lineNumber = line.line;
        entry.name = keep(line.name);
        std::size_t args = std::min<std::size_t>(line.args.size(), OptionEntry::kMaxArgs);
        for (std::size_t a = 0; a < args; ++a) entry.args[a] = keep(line.args[a]);
        entry.argCount = static_cast<std::uint32_t>(args);
    }
    list_->entryCount = static_cast<std::uint32_t>(lines);
}

char* OptionBlock::keep(const std::string& text) {
    // A deque never moves what it holds, so the pointers stay valid.
    texts_.push_back(text);
    return &texts_.back()[0];
}

OptionList* OptionBlock::fresh() {
    for (std::uint32_t i = 0; i < list_->entryCount; ++i) list_->entries[i].recognised = false;
    return list_.get();
}

}  // namespace host
