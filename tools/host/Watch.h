#pragma once

#include <atomic>
#include <string>

namespace host {

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

// Attaches to a running host's shared memory and shows each record when it
// is rewritten, until the host stops, the host is gone (status 1) or `stop`
// is set. Writes no record. Returns the process exit status.
int runWatch(const WatchOptions& options, const std::atomic<bool>& stop);

}  // namespace host
