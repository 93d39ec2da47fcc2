#include "serial/CRS232H.h"

#include "platform/SystemError.h"
#include "support/CLogH.h"

#include <climits>
#include <cstring>
#include <iostream>

namespace {

bool isLine(platform::SerialHandle handle) {
    return handle != platform::kNoSerialLine && handle != platform::kInvalidSerialLine;
}

}  // namespace

CRS232H::CRS232H(const CLogH* hostLogger)
    : ownsLogger(false),
      portName{},
      handle(platform::kNoSerialLine),
      savedAttributes{},
      workingAttributes{},
      logger(nullptr) {
    logger = CLogH::ownCopy(hostLogger, "CRS232H", 3);
    if (hostLogger == nullptr) logger->setDebugThreshold(4);
    ownsLogger = true;
    logger->debug("CRS232H: \"constructor\" called.", true);
}

CRS232H::~CRS232H() {
    logger->debug("CRS232H: \"destructor\" called.", true);
    if (handle != platform::kNoSerialLine) closePort();
    if (ownsLogger) delete logger;
    logger = nullptr;
}

void CRS232H::reportSystemError(const char* prefix) const {
    const platform::SystemErrorCode code = platform::lastSystemError();
    logger->error(prefix, false);
    std::cout << portName << ": " << platform::systemErrorText(code) << std::endl;
}

bool CRS232H::openPort(const char* name) {
    logger->debug("CRS232H: \"openPort\" called.", true);
    if (name == nullptr) name = "";
    const std::size_t length = std::strlen(name);
    if (length > kMaxNameLength) {
        logger->error("CRS232H: Port name is too long. ", false);
        // The limit and the length run together ("255300"): the hosts' own text.
        std::cout << kMaxNameLength << length << std::endl;
        return false;
    }
    // Opening again must not leak the line that is open, nor its lock.
    if (isLine(handle)) closePort();

    std::memcpy(portName, name, length + 1);
    logger->debugFormat("CRS232H: Opening %s.\n", portName);
    handle = platform::openSerialLine(portName);
    if (handle == platform::kInvalidSerialLine) {
        reportSystemError("CRS232H: Opening port ");
        return false;
    }
    getAttributes(&workingAttributes);
    getAttributes(&savedAttributes);
    return true;
}

bool CRS232H::getAttributes(PortAttributes* block) {
    if (block == nullptr) return false;
    if (!platform::getSerialState(handle, block->dcb)) {
        reportSystemError("CRS232H: Getting attribute(DCB) from ");
        return false;
    }
    if (!platform::getSerialTimeouts(handle, block->timeouts)) {
        reportSystemError("CRS232H: Getting attribute(COMMTIMEOUTS) from ");
        return false;
    }
    return true;
}

bool CRS232H::storeAttributes(const PortAttributes* block) {
    if (block == nullptr) return false;
    workingAttributes = *block;
    return true;
}

bool CRS232H::setBaudRate(std::int32_t rate) {
    switch (rate) {
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
        workingAttributes.dcb.BaudRate = static_cast<std::uint32_t>(rate);
        return true;
    default:
        logger->error("CRS232H: Could not set the baud rate ", false);
        std::cout << rate << std::endl;
        return false;
    }
}

bool CRS232H::setAttributes(const PortAttributes* block) {
    const PortAttributes& applied = block != nullptr ? *block : workingAttributes;
    if (!platform::setSerialState(handle, applied.dcb)) {
        reportSystemError("CRS232H: Setting attribute(DCB) to ");
        return false;
    }
    if (!platform::setSerialTimeouts(handle, applied.timeouts)) {
        reportSystemError("CRS232H: Setting attribute(COMMTIMEOUTS) to ");
        return false;
    }
    if (block != nullptr) workingAttributes = *block;
    return true;
}

std::int32_t CRS232H::read(void* buffer, std::uint32_t count) {
    // The count must fit the result.
    if (count > static_cast<std::uint32_t>(INT32_MAX)) count = INT32_MAX;
    std::uint32_t bytesRead = 0;
    if (!platform::readSerialLine(handle, buffer, count, bytesRead)) {
        reportSystemError("CRS232H: Reading from ");
        return -1;
    }
    return static_cast<std::int32_t>(bytesRead);
}

bool CRS232H::closePort() {
    if (!isLine(handle)) return false;
    const bool restored = setAttributes(&savedAttributes);
    if (!platform::closeSerialLine(handle)) {
        reportSystemError("CRS232H: Closing port ");
        handle = platform::kNoSerialLine;
        return false;
    }
    handle = platform::kNoSerialLine;
    return restored;
}
