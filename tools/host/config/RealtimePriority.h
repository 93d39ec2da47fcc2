// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include <string>

namespace host {

// Priorities --realtime and the configuration's "realtime" line accept.
constexpr int kRealtimeDefault = 10;
constexpr int kRealtimeLowest = 1;
constexpr int kRealtimeHighest = 99;

// A priority as written (a whole number from kRealtimeLowest to kRealtimeHighest).
bool parseRealtimePriority(const std::string& text, int& priority);

}  // namespace host
