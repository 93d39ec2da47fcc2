#include "ProcessInfo.h"

#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <fstream>
#include <sstream>

namespace host {

namespace {

std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::uint64_t processStartTicks(pid_t pid) {
    // The main thread's entry: the same start time, and one that user-mode
    // emulators (qemu-i386 for 32-bit hosts) pass through from the kernel
    // instead of making up their own for /proc/self/stat.
    const std::string id = std::to_string(pid);
    std::string stat = firstLineOf("/proc/" + id + "/task/" + id + "/stat");
    // The name in parentheses may hold blanks and parentheses itself.
    std::size_t end = stat.rfind(')');
    if (end == std::string::npos) return 0;
    std::istringstream fields(stat.substr(end + 1));
    std::string field;
    // Fields from the state (3rd) on; the start time is the 22nd.
    for (int n = 3; n <= 22; ++n)
        if (!(fields >> field)) return 0;
    return std::strtoull(field.c_str(), nullptr, 10);
}

std::string processName(pid_t pid) { return firstLineOf("/proc/" + std::to_string(pid) + "/comm"); }

pid_t processOfThread(pid_t tid) {
    std::ifstream in("/proc/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 5, "Tgid:") == 0) return static_cast<pid_t>(std::strtol(line.c_str() + 5, nullptr, 10));
    return 0;
}

bool processIsAlive(pid_t pid, std::uint64_t startTicks) {
    if (pid <= 0) return false;
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    return startTicks == 0 || processStartTicks(pid) == startTicks;
}

std::string describeProcess(pid_t pid) {
    std::string name = processName(pid);
    return "process " + std::to_string(pid) + (name.empty() ? "" : " (" + name + ")");
}

}  // namespace host
