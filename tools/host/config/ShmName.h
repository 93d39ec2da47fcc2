// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include <string>

namespace host {

// "/NAME" for a NAME given with or without its slash; empty when the name
// cannot name a shared-memory object.
std::string shmObjectName(const std::string& name);

}  // namespace host
