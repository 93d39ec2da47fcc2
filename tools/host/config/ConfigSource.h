// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include "HostConfig.h"
#include "HostOptions.h"

#include <string>

namespace host {

// The configuration a run uses: the file the command line names, else the
// built-in one of --port and the demo (its line filled in once the
// simulator runs); with the command line's --debug over the file's. False
// with `error` set when it cannot be read.
bool loadConfig(const HostOptions& options, HostConfig& config, std::string& error);

}  // namespace host
