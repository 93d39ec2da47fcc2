#include "controller/CConCommonH.h"
#include "platform/PortAttributes.h"
#include "plugin/CQuorlix.h"
#include "serial/CRS232H.h"
#include "storage/ByteOrder.h"
#include "storage/CDataStorage.h"
#include "support/CConfigH.h"
#include "support/CLogH.h"
#include "support/OptionArgs.h"
#include "support/OptionList.h"
#include "support/SinglePrecision.h"
#include "support/Text.h"
#include "tracker/CTraCommonH.h"

#include <cstring>
#include <iostream>
#include <new>

namespace {

constexpr const char* kDefaultPortName = "com2";
constexpr std::int32_t kBaudRate = 9600;
constexpr std::uint32_t kReadTimeoutPerByteMs = 100;

// Owning copy for the driver's text fields; null when the heap is exhausted.
char* copyText(const char* text) {
    if (text == nullptr) text = "";
    const std::size_t size = std::strlen(text) + 1;
    char* copy = new (std::nothrow) char[size];
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}

bool replaceText(char*& field, const char* text) {
    char* copy = copyText(text);
    if (copy == nullptr) return false;
    delete[] field;
    field = copy;
    return true;
}

// Stands in for a host that hands over no option list at all.
OptionList* emptyOptions() {
    static OptionList none{};  // no entries: nothing in it is ever written
    return &none;
}

}  // namespace

std::int32_t CQuorlix::init(InitInfo* info) {
    // Nothing may leave the plug-in as an exception; an exhausted heap inside
    // one of the parts fails init like any other step.
    try {
        return initSteps(info);
    } catch (...) {
        return -1;
    }
}

std::int32_t CQuorlix::initSteps(InitInfo* info) {
    logger->debug("CQuorlix: \"init\" called.", true);
    initSucceeded = false;
    if (info == nullptr) {
        logger->error("CQuorlix: Init info is empty.", true);
        return -1;
    }
    std::memcpy(&initInfo, info, sizeof initInfo);
    runFlag = initInfo.runFlag;
    if (config == nullptr) config = emptyOptions();
    if (!replaceText(deviceName, config->deviceName)) return -1;

    inputConnector = true;
    configureResult = 3;
    baudRate = kBaudRate;
    valIncrementRate = 0.0f;
    valDecrementRate = 0.0f;
    decrementRateGiven = false;
    wandControllerCount = 1;
    wandValuatorCount = kValuators;
    wandButtonCount = kButtons;
    for (float& v : valuatorValues) v = 0.0f;
    for (std::int32_t& b : buttonStates) b = 0;
    if (!replaceText(portName, kDefaultPortName)) return -1;

    if (!parseOwnOptions()) return -1;
    if (valIncrementRate != 0.0f && !decrementRateGiven) valDecrementRate = 2.0f * valIncrementRate;

    // A second init rebuilds the parts rather than leaking the first ones.
    delete traCommon;
    traCommon = nullptr;
    delete conCommon;
    conCommon = new (std::nothrow) CConCommonH(logger);
    if (conCommon == nullptr) return -1;
    conCommon->inputConnector = inputConnector;
    conCommon->outputControllerCount = static_cast<std::uint32_t>(wandControllerCount);
    conCommon->createControllerList(1, true);
    conCommon->setControllerDefaults(1, 1, static_cast<std::uint32_t>(wandValuatorCount),
                                     static_cast<std::uint32_t>(wandButtonCount));
    if (!conCommon->parseOptions(config)) return -1;
    emulatedTrackers = conCommon->assignTrackerNumbers(1);

    if (emulatedTrackers != 0 && !setUpTrackerEmulation()) return -1;
    if (!claimControllerEntry()) return -1;
    if (!CConfigH::reportUnknownOptions(config, logger)) return -1;

    printInfo();
    prepareControllerRecords();
    if (!openSerialPort()) return -1;
    initSucceeded = true;
    return 1;
}

bool CQuorlix::parseOwnOptions() {
    enum class Kind { None, Port, Increment, Decrement };
    bool allValid = true;
    for (std::uint32_t i = 0; i < config->usedEntries(); ++i) {
        OptionEntry& entry = config->entries[i];
        const char* name = entry.nameText();
        Kind kind = Kind::None;
        const char* title = nullptr;
        if (compareNoCase(name, "serialport") == 0 || compareNoCase(name, "port") == 0) {
            kind = Kind::Port;
            title = "SerialPort at line ";
        } else if (compareNoCase(name, "valincrementrate") == 0 || compareNoCase(name, "valrate") == 0) {
            kind = Kind::Increment;
            title = "ValIncrementRate at line ";
        } else if (compareNoCase(name, "valdecrementrate") == 0) {
            kind = Kind::Decrement;
            title = "ValDecrementRate at line ";
        }
        if (kind == Kind::None) continue;

        const char* problem = optionargs::countProblem(entry.usedArgs(), 1, 1);
        if (problem == nullptr && kind != Kind::Port && beginsWithLetter(entry.arg(1))) {
            problem = optionargs::kInvalidArg;
        }
        if (problem != nullptr) {
            optionargs::reportFault(*logger, "CQuorlix: ", problem, title, entry.lineNumber);
            allValid = false;
            continue;
        }

        switch (kind) {
            case Kind::Port:
                if (!replaceText(portName, entry.arg(1))) return false;
                break;
            case Kind::Increment:
                valIncrementRate = toSingle(parseReal(entry.arg(1)));
                break;
            case Kind::Decrement:
                valDecrementRate = toSingle(parseReal(entry.arg(1)));
                decrementRateGiven = true;
                break;
            case Kind::None:
                break;
        }
        entry.recognised = true;
    }
    return allValid;
}

bool CQuorlix::setUpTrackerEmulation() {
    if (initInfo.traStorage == nullptr) {
        logger->error("CQuorlix: tracker data storage pointer is empty.", true);
        return false;
    }
    traCommon = new (std::nothrow) CTraCommonH(logger);
    if (traCommon == nullptr) return false;
    traCommon->inputConnector = inputConnector;
    traCommon->maxTrackers = static_cast<std::uint32_t>(emulatedTrackers);
    traCommon->createLookup(static_cast<std::uint32_t>(emulatedTrackers));
    traCommon->setLookupEntry(1, 1, nullptr, nullptr, nullptr);
    if (!traCommon->parseOptions(config)) return false;

    CDataStorage& storage = *initInfo.traStorage;
    // Counts and entries are shared with the host: never touched without the lock.
    if (!storage.lock()) return false;
    traCommon->outputOffset = storage.getTraDataCount();
    storage.setTraDataCount(traCommon->maxTrackers + traCommon->outputOffset);
    traEntry = storage.getTraData(traCommon->outputOffset + 1);
    if (traEntry != nullptr) {
        conCommon->resetEmulatedTracker(1, traEntry, nullptr);
        const std::uint32_t number = conCommon->trackerPublication(1, traCommon->outputOffset);
        if (number != 0) traEntry->number = hostToNet(number);
    } else {
        logger->error("CQuorlix: Could not find tracker data entry.", true);
    }
    storage.unlock();
    if (traEntry == nullptr) return false;
    configureResult = 1;
    return true;
}

bool CQuorlix::claimControllerEntry() {
    if (initInfo.conStorage == nullptr) {
        logger->error("CQuorlix: controller data storage pointer is empty.", true);
        return false;
    }
    CDataStorage& storage = *initInfo.conStorage;
    if (!storage.lock()) return false;
    conCommon->outputOffset = storage.getConDataCount();
    storage.setConDataCount(conCommon->outputControllerCount + conCommon->outputOffset);
    storage.unlock();
    return true;
}

void CQuorlix::prepareControllerRecords() {
    conLast.stamp();
    conWork.stamp();
    conWork.valuatorOffset = hostToNet(ConData::kValuatorOffset);
    if (wandValuatorCount >= 0 && static_cast<std::uint32_t>(wandValuatorCount) <= ConData::kMaxValuators) {
        conWork.valuatorCount = hostToNet(static_cast<std::uint32_t>(wandValuatorCount));
    }
    conWork.buttonOffset = hostToNet(ConData::kValuatorOffset + 4 * netToHost(conWork.valuatorCount));
    if (wandButtonCount >= 0 && static_cast<std::uint32_t>(wandButtonCount) <= ConData::kMaxButtons) {
        conWork.buttonCount = hostToNet(static_cast<std::uint32_t>(wandButtonCount));
    }
}

bool CQuorlix::openSerialPort() {
    delete port;
    port = new (std::nothrow) CRS232H(logger);
    if (port == nullptr) return false;
    if (!port->openPort(portName)) return false;
    PortAttributes attributes;
    std::memset(&attributes, 0, sizeof attributes);
    attributes.dcb.fBinary = 1;
    attributes.dcb.fParity = 0;
    attributes.dcb.ByteSize = 8;
    attributes.dcb.Parity = portvalue::kNoParity;
    attributes.dcb.StopBits = portvalue::kOneStopBit;
    attributes.timeouts.ReadIntervalTimeout = 0;
    attributes.timeouts.ReadTotalTimeoutMultiplier = kReadTimeoutPerByteMs;
    attributes.timeouts.ReadTotalTimeoutConstant = 0;
    attributes.timeouts.WriteTotalTimeoutMultiplier = 0;
    attributes.timeouts.WriteTotalTimeoutConstant = 0;
    port->storeAttributes(&attributes);
    if (!port->setBaudRate(baudRate)) return false;
    // A refused setting is reported by the port; the line is read all the same.
    port->setAttributes(nullptr);
    return true;
}

bool CQuorlix::stop() {
    logger->debug("CQuorlix: \"stop\" called.", true);
    // Without a port (init never reached it) there is nothing to close.
    if (port != nullptr) port->closePort();
    return true;
}

bool CQuorlix::printInfo() {
    const bool endLine = true;
    const bool openLine = false;
    // Before init the texts are unset and there is no controller part.
    logger->info("DEVICE NAME           : ", openLine);
    std::cout << (deviceName != nullptr ? deviceName : "") << std::endl;
    logger->info("DEVICE TYPE           : Quorlix(tm)", endLine);
    logger->info("VERSION               : ", openLine);
    std::cout << "5.5" << std::endl;
    logger->info("DATA TYPE             : Controller", endLine);
    logger->info("SERIAL PORT           : ", openLine);
    std::cout << (portName != nullptr ? portName : "") << std::endl;
    logger->info("NUMBER OF DEVICES     : 1", endLine);
    logger->info("NUMBER OF CONTROLLERS : ", openLine);
    std::cout << (conCommon != nullptr ? conCommon->outputControllerCount : 0u) << std::endl;
    logger->info("VAL INCREMENT RATE    : ", openLine);
    std::cout << valIncrementRate << std::endl;
    logger->info("VAL DECREMENT RATE    : ", openLine);
    std::cout << valDecrementRate << std::endl;
    if (conCommon != nullptr) conCommon->printInfo();
    if (traCommon != nullptr) traCommon->printInfo(true);
    logger->info("-----------------------", endLine);
    std::cout.flush();
    return true;
}
