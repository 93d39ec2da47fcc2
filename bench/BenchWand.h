#pragma once

#include "BenchHost.h"
#include "plugin/CBase.h"
#include "support/OptionList.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// A started wand on the in-memory line, as a host holds it: created,
// initialised (its device report kept out of the figures) and ready for
// recvData. The line serves `lineBytes` over and over; the option lines are
// "name arg ..." as a host would pass them.
class BenchWand {
public:
    BenchWand(const std::vector<std::uint8_t>& lineBytes, const std::vector<std::string>& optionLines = {});
    ~BenchWand();
    BenchWand(const BenchWand&) = delete;
    BenchWand& operator=(const BenchWand&) = delete;

    bool ready() const { return ready_; }
    std::int32_t receive() { return device_->recvData(host_.masks(), 0); }
    bool controllerChanged() { return (host_.masks()[7] & 1) != 0; }

private:
    BenchHost host_;
    OptionList options_;
    char* keep(const std::string& text);

    std::deque<std::string> texts_;
    CLogH logger_;
    CBase* device_ = nullptr;
    bool ready_ = false;
};
