#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace host {

// A quorlix-sim started for the demo: its first output line names the line
// to open, a later "done" says the script has been sent and read.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool start(const std::string& program, const std::vector<std::string>& args, std::string& error);
    // The port it opened, waiting at most `limit`; "" when none came.
    std::string port(std::chrono::milliseconds limit);
    // True once it said "done" or ended.
    bool finished();
    // SIGTERM, then SIGKILL if it does not end within a second.
    void terminate();

private:
    bool readLine(std::string& line, int timeoutMs);

    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffer_;
    bool done_ = false;
};

}  // namespace host
