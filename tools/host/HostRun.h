// quorlix-host: the spine of a run, and the one place where outputs join the change bus.
#pragma once

#include "HostOptions.h"

namespace host {

// Runs the host as the options say; returns the exit status.
int runHost(const HostOptions& options);

}  // namespace host
