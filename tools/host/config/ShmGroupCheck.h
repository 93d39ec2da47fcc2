// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include <string>

#include <sys/types.h>

namespace host {

// Why the storages cannot be given to `group` by this process (no such
// group, or this user is not a member of it), or "" when they can.
// `gid`, where given, is the group's id when there is no problem.
std::string shmGroupProblem(const std::string& group, gid_t* gid = nullptr);

}  // namespace host
