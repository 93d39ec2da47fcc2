#pragma once

#include <string>

namespace platform {

// The device path behind a port name: a name with '/' is a path as given,
// "comN" (any case, N from 1) is /dev/ttyS<N-1>, any other name lives in /dev.
std::string serialDevicePath(const char* name);

}  // namespace platform
