// outputs/view/: the terminal view: the devices, their entries and the log, live or as plain text.
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
    std::string state;   // with why, e.g. "reconnecting (try 3, next in 2 s)"
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
    // The terminal's size; 0 for a stream, which gets everything.
    int width = 0;
    int height = 0;
};

// The view's lines: per device its state and rates, then per entry its
// buttons, valuator bars or tracker pose, then the latest log lines. On a
// terminal of a given size the lines fit it: where everything does not, each
// device gets two lines, or one, and the log what is left; the devices are
// never cut away for the log, and no line is longer than the width.
std::vector<std::string> renderFrame(const ScreenFrame& frame);

// "[-----#####|          ]": a valuator from -1 to 1 around the middle mark.
std::string valuatorBar(float value, int halfWidth = 10);

// Local time of day with milliseconds, "-" for none.
std::string clockText(std::int64_t microseconds);

// At most `width` characters of `text` (UTF-8), the rest cut off.
std::string cutToWidth(const std::string& text, int width);

// Redrawn in place on a terminal of `height` lines (none is left to scroll
// it); plain text blocks otherwise.
std::string screenText(const std::vector<std::string>& lines, bool terminal, int height = 0);

}  // namespace host
