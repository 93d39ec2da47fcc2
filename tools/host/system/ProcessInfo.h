// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <cstdint>
#include <string>

#include <sys/types.h>

namespace host {

// What /proc tells of another process; every answer is "unknown" (0 or "")
// where /proc cannot say, as for processes of another PID namespace.

// When the process started, in clock ticks since boot: with its pid, it tells
// one process from a later one that reuses the pid.
std::uint64_t processStartTicks(pid_t pid);
// Its command name ("" when unknown).
std::string processName(pid_t pid);
// The process a thread id belongs to (0 when unknown).
pid_t processOfThread(pid_t tid);
// True while `pid` is the same process that started at `startTicks` (only
// the pid is checked when `startTicks` is 0).
bool processIsAlive(pid_t pid, std::uint64_t startTicks);
// "process 1234 (name)", or "process 1234".
std::string describeProcess(pid_t pid);

}  // namespace host
