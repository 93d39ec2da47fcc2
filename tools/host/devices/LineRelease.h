// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include "HostConfig.h"

#include <string>
#include <vector>

namespace host {

// Gives back the configured pseudo-terminals that are still marked for
// exclusive use although no program has them open: one keeps that mark while
// its far end is open, after a host was killed without its stop. Only root
// can open a line past the mark. A line that any program holds is left as it
// is. One line said per port that needed something; true unless a port
// could not be looked at.
bool releaseLines(const HostConfig& config, std::vector<std::string>& said);

}  // namespace host
