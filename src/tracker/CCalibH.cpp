#include "tracker/CCalibH.h"

#include "support/CLogH.h"

CCalibH::CCalibH(const char* libraryName, const CLogH* givenLogger) : CDynamicLibH(libraryName, givenLogger) {
    // A given logger keeps its owner's name; only our own default one is renamed.
    if (givenLogger == nullptr) logger->setName("CCalibH");
    logger->debug("CCalibH: \"init\" called.", true);
}

CCalibH::~CCalibH() { logger->debug("CCalibH: \"destructor\" called.", true); }
