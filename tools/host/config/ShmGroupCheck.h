// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include <string>

namespace host {

// Why the storages cannot be given to `group` by this process (no such
// group, or this user is not a member of it), or "" when they can.
std::string shmGroupProblem(const std::string& group);

}  // namespace host
