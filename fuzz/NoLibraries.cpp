// The platform/SharedLibrary.h functions without the system's loader: the
// option fuzzer names libraries at random, and loading real ones (or reading
// device files as libraries) is no part of what it tests. A name ending in
// ".so" loads; every other name fails, so both paths are taken.
#include "platform/SharedLibrary.h"

#include <cstring>

namespace {

char loadedLibrary;

}  // namespace

namespace platform {

LibraryHandle loadLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    const std::size_t length = std::strlen(name);
    if (length < 3 || std::strcmp(name + length - 3, ".so") != 0) return nullptr;
    return &loadedLibrary;
}

void freeLibrary(LibraryHandle) {}

}  // namespace platform
