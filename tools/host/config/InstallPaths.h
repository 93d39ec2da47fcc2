// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include <string>

namespace host {

// Where the host finds the plug-in and the simulator that came with it:
// relative to its own executable, so that an installed tree still works
// after it was copied elsewhere. The installed layout (bin/ next to
// lib/quorlix/) is tried first, then the layout of the build tree.
// When neither exists, the installed place is returned so that the error
// names where the file was expected.
std::string builtInPluginPath();
std::string builtInSimPath();

// The folder of the running executable, from /proc/self/exe; empty when
// it cannot be read.
std::string executableDir();

}  // namespace host
