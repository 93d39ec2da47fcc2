#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

// strerror_r comes in two flavours; take whichever this C library offers.
[[maybe_unused]] std::string chosenText(int result, const char* buffer, int code) {
    if (result == 0) return buffer;
    return "Unknown error " + std::to_string(code);
}

[[maybe_unused]] std::string chosenText(const char* text, const char*, int code) {
    if (text != nullptr) return text;
    return "Unknown error " + std::to_string(code);
}

}  // namespace

SystemErrorCode lastSystemError() { return static_cast<SystemErrorCode>(errno); }

std::string systemErrorText(SystemErrorCode code) {
    char buffer[256] = {};
    const int value = static_cast<int>(code);
    return chosenText(strerror_r(value, buffer, sizeof buffer), buffer, value);
}

}  // namespace platform
