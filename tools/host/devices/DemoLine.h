// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include "ChildProgram.h"
#include "HostConfig.h"
#include "HostOptions.h"

#include <string>

namespace host {

// The demo's wand is the simulator's: without a configuration file or
// --port, starts it and puts the line it names into the configuration.
// Started once everything else has been checked, so that a mistake on the
// command line leaves no simulator behind to complain that it was stopped.
// True when there is no demo; false with `error` set.
bool startDemoLine(const HostOptions& options, ChildProgram& sim, HostConfig& config, std::string& error);

}  // namespace host
