#include "tracker/CTraCommonH.h"

#include "support/CLogH.h"
#include "tracker/CCalibH.h"

CTraCommonH::CTraCommonH(const CLogH* givenLogger)
    : ownsLogger(true),
      entryCount(0),
      lookup(nullptr),
      inputConnector(true),
      transmitterOffset{},
      transmitterRotation{},
      transmitterTransform{},
      transmitterOffsetSet(false),
      transmitterRotationSet(false),
      caveCoordinates(false),
      maxTrackers(0),
      outputOffset(0),
      calibLibrary(nullptr),
      calibLibraryName{},
      calibArgs{},
      calibArgCount(0),
      logger(nullptr) {
    logger = CLogH::ownCopy(givenLogger, "CTraCommonH", 3);
    logger->debug("CTraCommonH: \"constructor\" called.", true);

    matrixZero(&transmitterOffset);
    matrixIdentity(&transmitterRotation);
    matrixIdentity(&transmitterTransform);
}

CTraCommonH::~CTraCommonH() {
    logger->debug("CTraCommonH: \"destructor\" called.", true);
    releaseCalibration();
    delete[] lookup;
    lookup = nullptr;
    entryCount = 0;
    if (ownsLogger) delete logger;
    logger = nullptr;
}

void CTraCommonH::releaseCalibration() {
    if (calibLibrary == nullptr) return;
    delete calibLibrary;
    calibLibrary = nullptr;
    for (std::string& arg : calibArgs) std::string().swap(arg);
    calibArgCount = 0;
}

const char* CTraCommonH::getCalibrationArg(std::uint32_t i) const {
    return i < calibArgCount ? calibArgs[i].c_str() : nullptr;
}
