// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace host {

// A program the host starts, its standard output read line by line: the
// demo's quorlix-sim, whose first line names the line to open and whose
// "done" says the script has been sent and read.
class ChildProgram {
public:
    ChildProgram() = default;
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    // With `silent`, its standard error goes nowhere instead of to the host's.
    bool start(const std::string& program, const std::vector<std::string>& args, std::string& error,
               bool silent = false);
    // The port it opened, waiting at most `limit`; "" when none came.
    std::string port(std::chrono::milliseconds limit);
    // True once it said "done" or ended.
    bool finished();
    // SIGTERM, then SIGKILL if it does not end within a second.
    void terminate();
    // The next line of its output, waiting at most `timeoutMs`.
    bool readLine(std::string& line, int timeoutMs);

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffer_;
    bool done_ = false;
};

}  // namespace host
