#include "plugin/CQuorlix.h"

#include "controller/CConCommonH.h"
#include "serial/CRS232H.h"
#include "support/CLogH.h"
#include "tracker/CTraCommonH.h"

#include <cstring>

CQuorlix::CQuorlix(OptionList* config_, const CLogH* hostLogger)
    : CBase(hostLogger),
      port(nullptr),
      deviceName(nullptr),
      portName(nullptr),
      baudRate(0),
      valIncrementRate(0.0f),
      valDecrementRate(0.0f),
      decrementRateGiven(false),
      initInfo{},
      traEntry(nullptr),
      traLast{},
      traWork{},
      conEntry(nullptr),
      conLast{},
      conWork{},
      wandControllerCount(0),
      wandValuatorCount(0),
      wandButtonCount(0),
      runFlag(nullptr),
      valuatorValues{},
      buttonStates{},
      config(config_),
      traCommon(nullptr),
      conCommon(nullptr),
      emulatedTrackers(0),
      initSucceeded(false) {
    conLast.reset();
    conWork.reset();
    logger->debug("CQuorlix: \"constructor\" called.", true);
    if (hostLogger == nullptr) logger->setName("CQuorlix");
}

CQuorlix::~CQuorlix() {
    delete[] deviceName;
    delete[] portName;
    deviceName = nullptr;
    portName = nullptr;
    // The port goes last: its destructor puts back the line settings it found.
    delete traCommon;
    traCommon = nullptr;
    delete conCommon;
    conCommon = nullptr;
    delete port;
    port = nullptr;
    logger->debug("CQuorlix: \"destructor\" called.", true);
}

bool CQuorlix::start() {
    logger->debug("CQuorlix: \"start\" called.", true);
    return true;
}

std::int32_t CQuorlix::configure() {
    logger->debug("CQuorlix: \"configure\" called.", true);
    return configureResult;
}

std::int32_t CQuorlix::sendData(std::int32_t, std::int32_t) {
    logger->warning("CQuorlix: Can not send any data.", true);
    return -1;
}
