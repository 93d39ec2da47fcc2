#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A program the measurement starts, with its standard output and error in a
// file. It is stopped (SIGTERM, later SIGKILL) when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool running();
    // Waits at most `timeout` for the program to end; its exit status, or -1.
    int waitFor(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL if it has not ended within `grace`; the exit status or -1.
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));
    // CPU time of all its threads so far, nanoseconds (the scheduler's own
    // account); -1 when the system does not tell.
    std::int64_t cpuNanoseconds() const;

private:
    bool reap(bool wait);

    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = -1;
};
