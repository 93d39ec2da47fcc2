#include "platform/SharedLibrary.h"

#include <dlfcn.h>

namespace platform {

LibraryHandle loadLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    // Resolve everything at once and keep the library's symbols to itself, as
    // a library loaded by name on Windows would.
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void freeLibrary(LibraryHandle handle) {
    if (handle != nullptr) ::dlclose(handle);
}

}  // namespace platform
