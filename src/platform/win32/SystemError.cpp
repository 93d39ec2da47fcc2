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
    return result;
}

}  // namespace platform
