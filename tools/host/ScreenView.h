#pragma once

#include "LiveModel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// What the view shows of one device.
struct DeviceLine {
    std::string name;
    std::string port;
    std::string state;
    double recordsPerSecond = 0.0;
    std::uint64_t records = 0;
    std::uint64_t bytes = 0;
    std::uint64_t changes = 0;
    std::uint64_t errors = 0;
    std::uint64_t reconnects = 0;
    std::int64_t lastChangeUs = 0;
};

struct ScreenFrame {
    std::string title;
    std::vector<DeviceLine> devices;
    std::vector<LiveModel::Entry> entries;
    std::vector<std::string> log;
    std::vector<std::string> warnings;  // shown under the title
};

// The view's lines: per device its state and rates, then per entry its
// buttons, valuator bars or tracker pose, then the latest log lines.
std::vector<std::string> renderFrame(const ScreenFrame& frame);

// "[-----#####|          ]": a valuator from -1 to 1 around the middle mark.
std::string valuatorBar(float value, int halfWidth = 10);

// Local time of day with milliseconds, "-" for none.
std::string clockText(std::int64_t microseconds);

// Redrawn in place on a terminal; plain text blocks otherwise.
std::string screenText(const std::vector<std::string>& lines, bool terminal);

}  // namespace host
