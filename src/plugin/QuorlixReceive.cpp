#include "controller/CConCommonH.h"
#include "plugin/CQuorlix.h"
#include "plugin/KeyRecord.h"
#include "plugin/ValuatorRamp.h"
#include "serial/CRS232H.h"
#include "storage/ByteOrder.h"
#include "storage/CDataStorage.h"
#include "support/CLogH.h"
#include "tracker/CTraCommonH.h"

#include <cstring>

bool CQuorlix::keepRunning() const {
    // The host clears its flag from another thread while we read; a host
    // that gave no flag cannot stop us, so we keep running.
    return runFlag == nullptr || __atomic_load_n(runFlag, __ATOMIC_RELAXED) != 0;
}

int CQuorlix::readByte(std::uint8_t& byte) {
    const std::int32_t got = port->read(&byte, 1);
    if (got < 0) {
        logger->error("CQuorlix: Reading a byte failed.", true);
        return -1;
    }
    return got > 0 ? 1 : 0;
}

std::int32_t CQuorlix::recvData(std::uint8_t* masks, std::int32_t) {
    logger->debug("CQuorlix: \"recvData\" called.", true);
    // The body lives here, never on the heap: this runs once per record.
    std::uint8_t body[wand::kBodyCapacity];
    std::size_t length = 0;
    std::uint8_t received = 0;
    bool recordComplete = true;

    std::uint8_t* trackerMask = masks;
    std::uint8_t* controllerMask = masks != nullptr ? masks + 4 : nullptr;
    if (conCommon != nullptr && controllerMask != nullptr) std::memset(controllerMask, 0, 4);
    if (traCommon != nullptr && trackerMask != nullptr) std::memset(trackerMask, 0, 4);
    // Without a finished init there is no port, part or storage to touch.
    if (!initSucceeded) return -1;

    while (!wand::isHeader(received) && keepRunning()) {
        const int got = readByte(received);
        if (got < 0) return -1;
        if (got == 0) {
            recordComplete = false;
            break;
        }
    }
    if (!keepRunning()) return -1;
    const std::uint8_t header = received;

    if (recordComplete) {
        while (keepRunning()) {
            const int got = readByte(received);
            if (got < 0) return -1;
            if (got == 0) {
                recordComplete = false;
                break;
            }
            if (wand::isTerminator(received)) break;
            if (length < sizeof body) body[length++] = received;
        }
    }
    if (header == wand::kTextHeader && recordComplete) {
        if (logger->isDebugOn()) wand::showTextRecord(*logger, body, length);
        recordComplete = false;
    }
    if (!keepRunning()) return -1;

    conWork.stamp();
    if (recordComplete) {
        for (std::int32_t& b : buttonStates) b = 0;
        const std::size_t keyLength = wand::keyDataLength(header, length);
        if (logger->isDebugOn()) wand::dumpKeyData(*logger, body, keyLength);
        wand::pressReportedButtons(body, keyLength, buttonStates);
    }

    rampWandValuators(valuatorValues, buttonStates, valIncrementRate, valDecrementRate);
    conCommon->mapController(1, valuatorValues, static_cast<std::uint32_t>(wandValuatorCount), buttonStates,
                             static_cast<std::uint32_t>(wandButtonCount), conWork);

    // An incomplete record still publishes (the ramps move on); the result
    // says only whether publication found its entries.
    bool published = true;
    if (!sameConData(conLast, conWork) && !publishController(controllerMask)) published = false;
    if (traCommon != nullptr && !publishTracker(trackerMask)) published = false;
    return published ? 1 : -1;
}

bool CQuorlix::publishController(std::uint8_t* controllerMask) {
    CDataStorage& storage = *initInfo.conStorage;
    // A failed lock is reported by the mutex; the entry is not ours to touch
    // then, and the record stays unpublished so the next call tries again.
    if (!storage.lock()) return false;
    bool found = false;
    const CConCommonH::Publication place = conCommon->publication(1);
    conEntry = storage.getConData(place.entry);
    if (conEntry != nullptr) {
        logger->debug("CQuorlix: ConData storage found", true);
        std::memcpy(conEntry, &conWork, sizeof conWork);
        found = true;
    } else {
        logger->error("CQuorlix: ConData storage not found", true);
    }
    storage.unlock();
    // The host learns of the change only once the entry is free again.
    markChanged(controllerMask, place.number);
    conLast = conWork;
    return found;
}

bool CQuorlix::publishTracker(std::uint8_t* trackerMask) {
    conCommon->emulateTracker(1, &traWork, &conWork);
    if (sameTraData(traLast, traWork)) return true;
    CDataStorage& storage = *initInfo.traStorage;
    if (!storage.lock()) return false;
    bool found = false;
    traEntry = storage.getTraData(traCommon->outputOffset + 1);
    if (traEntry != nullptr) {
        logger->debug("CQuorlix: TraData storage found", true);
        const std::uint32_t number = conCommon->trackerPublication(1, traCommon->outputOffset);
        if (number != 0) traWork.number = hostToNet(number);
        std::memcpy(traEntry, &traWork, sizeof traWork);
        markChanged(trackerMask, number);
        found = true;
    } else {
        logger->error("CQuorlix: TraData storage not found", true);
    }
    storage.unlock();
    traLast = traWork;
    return found;
}
