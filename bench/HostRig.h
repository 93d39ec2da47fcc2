#pragma once

#include "ChildProcess.h"
#include "SharedRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How a HostRig starts its programs.
struct RigStart {
    std::string host;  // quorlix-host
    std::string sim;   // quorlix-sim
    // The line the host reads; empty: quorlix-sim's, which plays the script.
    std::string line;
    std::vector<std::string> prefix;       // a program the host runs under (strace)
    std::vector<std::string> hostOptions;  // more of the host's options (--realtime, --osc, --vrpn)
    std::vector<std::string> simOptions;   // more of the simulator's (--pace)
    std::string config;                    // configuration lines after the device's port
};

// One quorlix-host with --no-view and its storages in shared memory, on a
// line of its own or on quorlix-sim's (which stamps each record's write);
// ready once the device has published its first record. Its files go to
// `dir`, named after `run`. Stopped gently when it goes, so the host removes
// its shared memory.
class HostRig {
public:
    HostRig(const RigStart& start, const std::string& dir, const std::string& run, const std::string& script);
    ~HostRig();
    HostRig(const HostRig&) = delete;
    HostRig& operator=(const HostRig&) = delete;

    // The shared memory's name for a run of this process.
    static std::string shmName(const std::string& run);

    // Empty once ready, else what went wrong.
    const std::string& error() const { return error_; }
    SharedRecords& records() { return records_; }
    ChildProcess& sim() { return *sim_; }
    ChildProcess& host() { return *host_; }
    // Where the host's standard output and error go.
    const std::string& hostLog() const { return hostLog_; }
    // The simulator's write times, once it has ended.
    std::vector<std::int64_t> stamps();

private:
    std::string link_;
    std::string stamps_;
    std::string hostLog_;
    std::string error_;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> host_;
    SharedRecords records_;
};
