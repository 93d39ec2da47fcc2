#pragma once

#include <string>

namespace platform {

using SystemErrorCode = unsigned long;

// The calling thread's last error code; fetch it before anything else can change it.
SystemErrorCode lastSystemError();

// The system's own text for a code, as the system words it.
std::string systemErrorText(SystemErrorCode code);

}  // namespace platform
