// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include "ModeOptions.h"
#include "VrpnAddress.h"

#include <string>
#include <vector>

namespace host {

struct HostOptions {
    enum class Mode { run, watch, mirror, release };
    enum class View { automatic, live, plain, json, none };

    Mode mode = Mode::run;
    std::string config;     // configuration file; empty: --port or the demo
    std::string port;       // one wand on this port with the built-in configuration
    View view = View::automatic;
    std::string shm;
    std::string shmGroup;   // group of the shared memory (mode 0640); empty: as configured
    bool keepGoing = false;
    double duration = 0.0;  // seconds; 0 runs until stopped
    std::string plugin;     // the plug-in "quorlix" stands for
    std::string sim;        // the simulator the demo starts
    std::string log;        // a file that keeps the whole log, whatever the view
    int debugLevel = -1;    // -1: as configured
    int realtime = -1;      // SCHED_FIFO priority of the device threads; -1: as configured
    std::vector<std::string> osc;  // receivers of every change over OSC (liblo URLs)
    int oscTtl = 0;         // multicast hops; 0: as configured, else the system's (1)
    VrpnAddress vrpn;       // --vrpn: replaces the configuration's vrpn line
    bool help = false;
    bool version = false;
    WatchOptions watch;
    MirrorOptions mirror;
};

// False with `error` set for an unknown flag, a bad value or a contradiction.
bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

// The configuration of one wand on `port`, as the demo and --port use it:
// both valuators ramping, the tracker emulated from them, button 6 resetting it.
std::string builtInConfig(const std::string& port);

extern const char* const kHostUsage;

}  // namespace host
