#include "ConfigSource.h"

#include "ConfigReader.h"
#include "VisibleText.h"

#include <cerrno>
#include <sstream>

#include <sys/stat.h>

namespace host {

namespace {

bool readSource(const HostOptions& options, HostConfig& config, std::string& error) {
    if (!options.config.empty()) {
        if (readConfigFile(options.config, config, error)) return true;
        // A mistyped command reads as a file name that is not there.
        struct stat info {};
        bool missing = stat(options.config.c_str(), &info) != 0 && errno == ENOENT;
        if (missing && options.config.find_first_of("/.") == std::string::npos)
            error = "\"" + visibleText(options.config) +
                    "\" is neither a command (watch, mirror, release) nor a configuration file (see --help)";
        return false;
    }
    std::istringstream text(builtInConfig(options.port));
    return readConfig(text, "<built-in>", config, error);
}

}  // namespace

bool loadConfig(const HostOptions& options, HostConfig& config, std::string& error) {
    if (!readSource(options, config, error)) return false;
    if (options.debugLevel >= 0) config.logger.debugLevel = options.debugLevel;
    return true;
}

}  // namespace host
