#include "platform/SharedLibrary.h"

#include <windows.h>

namespace platform {

LibraryHandle loadLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    return reinterpret_cast<LibraryHandle>(LoadLibraryA(name));
}

void freeLibrary(LibraryHandle handle) {
    if (handle != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(handle));
}

}  // namespace platform
