// watch/: a running host's records as they change, read from its shared memory.
#pragma once

#include "ModeOptions.h"

#include <atomic>

namespace host {

// Attaches to a running host's shared memory and shows each record when it
// is rewritten, until the host stops, the host is gone (status 1) or `stop`
// is set. Writes no record. Returns the process exit status.
int runWatch(const WatchOptions& options, const std::atomic<bool>& stop);

}  // namespace host
