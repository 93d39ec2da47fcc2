#pragma once

#include "platform/SharedLibrary.h"

class CLogH;

// Holds at most one shared library, loaded by name and released on unload or
// destruction. Nothing in the library is looked up or called.
class CDynamicLibH {
public:
    // Loads the library at once when a name is given; never fails itself.
    CDynamicLibH(const char* libraryName, const CLogH* givenLogger);
    virtual ~CDynamicLibH();
    CDynamicLibH(const CDynamicLibH&) = delete;
    CDynamicLibH& operator=(const CDynamicLibH&) = delete;

    bool load(const char* libraryName);
    bool unload();

    bool isLoaded() const { return moduleHandle != nullptr; }

protected:
    platform::LibraryHandle moduleHandle;
    bool ownsLogger;
    CLogH* logger;

private:
    void init(const char* libraryName);
};
