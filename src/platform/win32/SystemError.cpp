#include "platform/SystemError.h"

#include <windows.h>

namespace platform {

SystemErrorCode lastSystemError() { return static_cast<SystemErrorCode>(GetLastError()); }

std::string systemErrorText(SystemErrorCode code) {
    LPSTR text = NULL;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, NULL,
        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
        NULL);
    if (length == 0 || text == NULL) return "Unknown error " + std::to_string(code);
    std::string result(text, length);
    LocalFree(text);
    // System texts end in "\r\n"; callers end the line themselves, as with strerror.
    const std::string::size_type end = result.find_last_not_of(" \t\r\n");
    result.erase(end == std::string::npos ? 0 : end + 1);
    if (result.empty()) return "Unknown error " + std::to_string(code);
    return result;
}

}  // namespace platform
