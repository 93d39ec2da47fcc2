// plugin/: the device plug-ins as the host loads them: their libraries and the logger they copy.
#pragma once

#include "HostConfig.h"

#include <memory>
#include <string>

class CLogH;

namespace host {

struct LoggerRelease {
    void operator()(CLogH* logger) const;
};
using LoggerPtr = std::unique_ptr<CLogH, LoggerRelease>;

// A logger value as the plug-in expects to copy it, named `name` (cut to fit)
// and set from the host's switches and levels. The host links none of the
// plug-in's code, so the value is laid out here byte for byte.
LoggerPtr makePluginLogger(const LoggerSettings& settings, const std::string& name);

}  // namespace host
