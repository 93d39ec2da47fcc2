// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include "HostConfig.h"

#include <istream>
#include <string>

namespace host {

// Reads a host configuration:
//   # comment (anywhere on a line)
//   showdate|showtime|showthreadid|logging on|off     host-level, before the first device
//   debuglevel N, debugthreshold N                    host-level, before the first device
//   device NAME LIBRARY                               opens a device
//   NAME ARG...                                       one option line of the device above
// On a fault `error` is "file:line: what is wrong" and nothing is kept.
bool readConfig(std::istream& in, const std::string& fileName, HostConfig& config, std::string& error);

bool readConfigFile(const std::string& path, HostConfig& config, std::string& error);

}  // namespace host
