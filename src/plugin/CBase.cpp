#include "plugin/CBase.h"

#include "support/CLogH.h"

CBase::CBase(const CLogH* hostLogger)
    : reserved(0), ownsLogger(true), logger(nullptr), inputConnector(true), configureResult(1) {
    logger = CLogH::ownCopy(hostLogger, "CBase", 1);
}

CBase::~CBase() {
    if (ownsLogger && logger != nullptr) delete logger;
    logger = nullptr;
}
