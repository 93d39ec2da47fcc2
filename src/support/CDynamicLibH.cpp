#include "support/CDynamicLibH.h"

#include "support/CLogH.h"

#include <iostream>

CDynamicLibH::CDynamicLibH(const char* libraryName, const CLogH* givenLogger)
    : moduleHandle(nullptr), ownsLogger(true), logger(nullptr) {
    logger = CLogH::ownCopy(givenLogger, "CDynamicLibH", 3);
    logger->debug("CDynamicLibH: \"constructor\" called.", true);
    init(libraryName);
}

CDynamicLibH::~CDynamicLibH() {
    logger->debug("CDynamicLibH: \"destructor\" called.", true);
    unload();
    if (ownsLogger) delete logger;
    logger = nullptr;
}

void CDynamicLibH::init(const char* libraryName) {
    logger->debug("CDynamicLibH: \"init\" called.", true);
    moduleHandle = nullptr;
    if (libraryName != nullptr) load(libraryName);
}

bool CDynamicLibH::load(const char* libraryName) {
    logger->debug("CDynamicLibH: \"load\" called.", true);
    if (libraryName == nullptr || libraryName[0] == '\0') {
        logger->error("CDynamicLibH: Library name is empty.", true);
        return false;
    }
    // One library per object: a second load would leak the first handle.
    if (moduleHandle != nullptr) return false;

    moduleHandle = platform::loadLibrary(libraryName);
    if (moduleHandle == nullptr) {
        logger->error("CDynamicLibH: Can not load the library ", false);
        std::cout << libraryName << std::endl;
        return false;
    }
    if (logger->isDebugOn()) {
        logger->debug("CDynamicLibH: ", false);
        std::cout << libraryName << " library loaded." << std::endl;
    }
    return true;
}

bool CDynamicLibH::unload() {
    logger->debug("CDynamicLibH: \"unload\" called.", true);
    if (moduleHandle != nullptr) platform::freeLibrary(moduleHandle);
    moduleHandle = nullptr;
    return true;
}
