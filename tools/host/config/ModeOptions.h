// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include "VrpnAddress.h"

#include <string>

namespace host {

// What watch is asked to do.
struct WatchOptions {
    std::string shm;
    bool json = false;
    bool once = false;
    int intervalMs = 50;
    double duration = 0;  // seconds; 0: until the host stops
    // The user the host runs as: its object is trusted only when theirs.
    unsigned owner = 0;
    bool ownerGiven = false;
};

// What mirror is asked to do.
struct MirrorOptions {
    std::string listen;    // a port or an osc.udp URL (a multicast group joins it)
    std::string shm;       // the storages' shared-memory name on this node
    std::string shmGroup;  // group that may read them (mode 0640); empty: this user only
    std::string from;      // the one host accepted; empty: any
    double duration = 0.0; // seconds; 0 runs until stopped
    VrpnAddress vrpn;      // a VRPN server for the mirrored devices
};

}  // namespace host
