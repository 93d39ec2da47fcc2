#pragma once

#include <string>

namespace host {

// Priorities --realtime and the configuration's "realtime" line accept.
constexpr int kRealtimeDefault = 10;
constexpr int kRealtimeLowest = 1;
constexpr int kRealtimeHighest = 99;

// A priority as written (a whole number from kRealtimeLowest to kRealtimeHighest).
bool parseRealtimePriority(const std::string& text, int& priority);

// Puts the calling thread under SCHED_FIFO at `priority`. Without the right
// to (EPERM) the host says so once, naming the fix, and the thread runs on
// with normal scheduling; false then.
bool runThisThreadRealtime(int priority);

}  // namespace host
