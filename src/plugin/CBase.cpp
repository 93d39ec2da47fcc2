#include "plugin/CBase.h"

#include "support/CLogH.h"

CBase::CBase(const CLogH* hostLogger)
    : reserved(0), ownsLogger(true), logger(nullptr), inputConnector(true), configureResult(1) {
    logger = hostLogger != nullptr ? new CLogH(*hostLogger) : new CLogH();
    if (hostLogger == nullptr) logger->setName("CBase");
    logger->setOwnDebugLevel(1);
}

CBase::~CBase() {
    if (ownsLogger && logger != nullptr) delete logger;
    logger = nullptr;
}
