// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include "HostConfig.h"

#include "support/OptionList.h"

#include <deque>
#include <memory>
#include <string>

namespace host {

// A device's option lines laid out as the plug-in reads them. The texts live
// as long as this object, so the list may be handed to a device for its life.
class OptionBlock {
public:
    explicit OptionBlock(const DeviceConfig& device);
    OptionBlock(const OptionBlock&) = delete;
    OptionBlock& operator=(const OptionBlock&) = delete;

    // The list as handed over: no line recognised yet.
    OptionList* fresh();
    const OptionList& list() const { return *list_; }

private:
    char* keep(const std::string& text);

    std::unique_ptr<OptionList> list_;
    std::deque<std::string> texts_;
};

}  // namespace host
