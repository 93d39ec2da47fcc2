#include "PluginSet.h"

#include "HostLog.h"
#include "InstallPaths.h"

namespace host {

bool PluginSet::loadAll(const HostConfig& config, const HostOptions& options) {
    configFile_ = config.fileName;
    builtIn_ = options.plugin.empty() ? builtInPluginPath() : options.plugin;
    std::string error;
    for (const DeviceConfig& d : config.devices) {
        std::string path = resolveLibrary(d.library, configFile_, builtIn_);
        if (libraries_.count(path)) continue;
        std::unique_ptr<PluginLibrary> library(new PluginLibrary());
        if (!library->load(path, error)) {
            // Where the path came from is what the user must change; the
            // loader's text names the path already.
            if (d.library == "quorlix" && !options.plugin.empty())
                hostMessage("--plugin: " + error);
            else if (d.library == "quorlix" && options.config.empty())
                hostMessage("the built-in plug-in (--plugin names another): " + error);
            else
                hostMessage(config.fileName + ":" + std::to_string(d.line) + ": cannot load " + d.library + ": " +
                            error);
            return false;
        }
        libraries_[path] = std::move(library);
    }
    return true;
}

PluginLibrary& PluginSet::of(const DeviceConfig& device) {
    return *libraries_.at(resolveLibrary(device.library, configFile_, builtIn_));
}

}  // namespace host
