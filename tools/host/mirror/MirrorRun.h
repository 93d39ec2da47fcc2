// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "ModeOptions.h"

#include <atomic>

namespace host {

// Mirrors a publishing host's storages into shared memory on this node until
// `stop` is set or the duration has passed. Returns the exit status.
int runMirror(const MirrorOptions& options, const std::atomic<bool>& stop);

}  // namespace host
