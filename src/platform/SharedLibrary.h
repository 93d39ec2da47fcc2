#pragma once

namespace platform {

// The system's handle of a loaded shared library; null while none is held.
using LibraryHandle = void*;

// Loads a library by name or path with the system's own search rules.
// Returns null when the system cannot load it.
LibraryHandle loadLibrary(const char* name);

// Releases a handle that loadLibrary gave; a null handle is ignored.
void freeLibrary(LibraryHandle handle);

}  // namespace platform
