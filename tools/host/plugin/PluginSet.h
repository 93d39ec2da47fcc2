// plugin/: the device plug-ins as the host loads them: their libraries and the logger they copy.
#pragma once

#include "HostConfig.h"
#include "HostOptions.h"
#include "PluginLibrary.h"

#include <map>
#include <memory>
#include <string>

namespace host {

// The plug-in libraries a configuration's devices use, each loaded once.
class PluginSet {
public:
    // Every library before anything starts; false (reported, naming where
    // its path came from) when one does not load.
    bool loadAll(const HostConfig& config, const HostOptions& options);
    // The library of a device of that configuration.
    PluginLibrary& of(const DeviceConfig& device);

private:
    std::string configFile_;
    std::string builtIn_;  // what "quorlix" stands for
    std::map<std::string, std::unique_ptr<PluginLibrary>> libraries_;
};

}  // namespace host
