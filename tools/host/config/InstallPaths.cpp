#include "InstallPaths.h"

#include <climits>
#include <initializer_list>

#include <unistd.h>

// Both relative to the folder of quorlix-host; set by the build.
#ifndef QUORLIX_INSTALLED_PLUGIN
#define QUORLIX_INSTALLED_PLUGIN "../lib/quorlix/quorlix.so"
#endif
#ifndef QUORLIX_INSTALLED_SIM
#define QUORLIX_INSTALLED_SIM "quorlix-sim"
#endif
#ifndef QUORLIX_BUILT_PLUGIN
#define QUORLIX_BUILT_PLUGIN QUORLIX_INSTALLED_PLUGIN
#endif
#ifndef QUORLIX_BUILT_SIM
#define QUORLIX_BUILT_SIM QUORLIX_INSTALLED_SIM
#endif

namespace host {

namespace {

std::string firstPresent(std::initializer_list<const char*> relatives, int mode) {
    std::string dir = executableDir();
    if (dir.empty()) return *relatives.begin();
    for (const char* relative : relatives) {
        std::string path = dir + "/" + relative;
        if (access(path.c_str(), mode) == 0) return path;
    }
    return dir + "/" + *relatives.begin();
}

}  // namespace

std::string executableDir() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "";
    std::string path(buffer, static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
}

std::string builtInPluginPath() { return firstPresent({QUORLIX_INSTALLED_PLUGIN, QUORLIX_BUILT_PLUGIN}, R_OK); }

std::string builtInSimPath() { return firstPresent({QUORLIX_INSTALLED_SIM, QUORLIX_BUILT_SIM}, X_OK); }

}  // namespace host
