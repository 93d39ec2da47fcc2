// quorlix-host: the spine of a run, from the options to the stop.
#pragma once

#include "HostOptions.h"

namespace host {

// Runs the host as the options say; returns the exit status.
int runHost(const HostOptions& options);

}  // namespace host
