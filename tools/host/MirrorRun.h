#pragma once

#include <atomic>
#include <string>

namespace host {

struct MirrorOptions {
    std::string listen;    // a port or an osc.udp URL (a multicast group joins it)
    std::string shm;       // the storages' shared-memory name on this node
    std::string shmGroup;  // group that may read them (mode 0660); empty: this user only
    std::string from;      // the one host accepted; empty: any
    double duration = 0.0; // seconds; 0 runs until stopped
};

// Mirrors a publishing host's storages into shared memory on this node until
// `stop` is set or the duration has passed. Returns the exit status.
int runMirror(const MirrorOptions& options, const std::atomic<bool>& stop);

}  // namespace host
