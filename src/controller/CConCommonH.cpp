#include "controller/CConCommonH.h"

#include "storage/EntryNumber.h"
#include "support/CLogH.h"
#include "support/Clock.h"

#include <cstdint>
#include <new>

namespace {

void clearEntry(ControllerEntry& e) {
    e.outputNumber = 0;
    e.valuatorCount = 0;
    e.buttonCount = 0;
    for (std::uint32_t r = 0; r < ControllerEntry::kMaxValuators; ++r) {
        e.valuatorOrder[r] = 0;
        e.valuatorScale[r][0] = 0.0f;
        e.valuatorScale[r][1] = 0.0f;
        e.valuatorScale[r][2] = 1.0f;
        e.valuatorScale[r][3] = 0.0f;
    }
    for (std::uint32_t r = 0; r < ControllerEntry::kMaxButtons; ++r) e.buttonOrder[r] = 0;
    e.trackerEmulation = nullptr;
}

}  // namespace

CConCommonH::CConCommonH(const CLogH* hostLogger)
    : ownsLogger(true),
      elapsedTime(0.0),
      controllerCount(0),
      countLimit(true),
      controllerList(nullptr),
      inputConnector(true),
      outputControllerCount(0),
      outputOffset(0),
      logger(CLogH::ownCopy(hostLogger, "CConCommonH", 3)),
      clockSource(&secondsNow) {
    logger->debug("CConCommonH: \"constructor\" called.", true);
}

CConCommonH::~CConCommonH() {
    logger->debug("CConCommonH: \"destructor\" called.", true);
    freeList();
    if (ownsLogger) delete logger;
    logger = nullptr;
}

bool CConCommonH::createControllerList(std::uint32_t count, bool limitCounts) {
    if (count == 0) return false;
    // Allocate before freeing so a refused size keeps the list we have, and
    // never let an allocation failure throw out of the plug-in.
    if (count > SIZE_MAX / sizeof(ControllerEntry)) return false;
    ControllerEntry* fresh = new (std::nothrow) ControllerEntry[count];
    if (fresh == nullptr) return false;
    freeList();
    controllerCount = count;
    controllerList = fresh;
    countLimit = limitCounts;
    for (std::uint32_t c = 0; c < count; ++c) clearEntry(controllerList[c]);
    return true;
}

bool CConCommonH::setControllerDefaults(std::uint32_t controller, std::int32_t outputNumber,
                                        std::uint32_t valuatorCount, std::uint32_t buttonCount) {
    ControllerEntry* e = entry(controller);
    // The tables hold 32 elements; larger counts would index past them.
    if (e == nullptr || valuatorCount > ControllerEntry::kMaxValuators || buttonCount > ControllerEntry::kMaxButtons)
        return false;
    e->outputNumber = static_cast<std::uint32_t>(outputNumber);
    e->valuatorCount = valuatorCount;
    e->buttonCount = buttonCount;
    for (std::uint32_t r = 1; r <= valuatorCount; ++r) {
        e->valuatorOrder[r - 1] = r;
        e->valuatorScale[r - 1][0] = 0.0f;
        e->valuatorScale[r - 1][1] = 0.0f;
        e->valuatorScale[r - 1][2] = 1.0f;
        e->valuatorScale[r - 1][3] = 0.0f;
    }
    for (std::uint32_t r = 1; r <= buttonCount; ++r) e->buttonOrder[r - 1] = r;
    return true;
}

bool CConCommonH::setTrackerEmulation(std::uint32_t controller, std::int32_t trackerNumber,
                                      const float* initialValues, const std::uint32_t* valuatorAssignment,
                                      std::int32_t resetButton) {
    ControllerEntry* e = entry(controller);
    if (e == nullptr) return false;
    if (e->trackerEmulation == nullptr) {
        e->trackerEmulation = new (std::nothrow) TrackerEmulation;
        if (e->trackerEmulation == nullptr) return false;
    }
    TrackerEmulation& t = *e->trackerEmulation;
    t.trackerNumber = static_cast<std::uint32_t>(trackerNumber);
    for (std::uint32_t k = 0; k < TrackerEmulation::kPoseValues; ++k) {
        t.initialValues[k] = initialValues != nullptr ? initialValues[k] : 0.0f;
        t.valuatorAssignment[k] = valuatorAssignment != nullptr ? valuatorAssignment[k] : 0;
    }
    t.resetButton = static_cast<std::uint32_t>(resetButton);
    t.lastUpdateTime = 0.0;
    return true;
}

std::int32_t CConCommonH::assignTrackerNumbers(std::int32_t first) {
    if (first == 0) return 0;
    // Counted unsigned so a first number near the top cannot overflow.
    std::uint32_t next = static_cast<std::uint32_t>(first);
    std::int32_t numbered = 0;
    for (std::uint32_t c = 0; c < controllerCount; ++c) {
        TrackerEmulation* t = controllerList[c].trackerEmulation;
        if (t == nullptr) continue;
        t->trackerNumber = next++;
        ++numbered;
    }
    return numbered;
}

bool CConCommonH::deleteControllerList() {
    if (controllerList == nullptr) return false;
    freeList();
    return true;
}

void CConCommonH::freeList() {
    if (controllerList == nullptr) return;
    for (std::uint32_t c = 0; c < controllerCount; ++c) delete controllerList[c].trackerEmulation;
    delete[] controllerList;
    controllerList = nullptr;
    controllerCount = 0;
}

ControllerEntry* CConCommonH::entry(std::uint32_t controller) const {
    if (controllerList == nullptr || controller < 1 || controller > controllerCount) return nullptr;
    return &controllerList[controller - 1];
}

const ControllerEntry* CConCommonH::getController(std::uint32_t controller) const { return entry(controller); }

std::uint32_t CConCommonH::getOutputNumber(std::uint32_t controller) const {
    const ControllerEntry* e = entry(controller);
    return e != nullptr ? e->outputNumber : 0;
}

std::uint32_t CConCommonH::getValuatorCount(std::uint32_t controller) const {
    const ControllerEntry* e = entry(controller);
    return e != nullptr ? e->valuatorCount : 0;
}

std::uint32_t CConCommonH::getButtonCount(std::uint32_t controller) const {
    const ControllerEntry* e = entry(controller);
    return e != nullptr ? e->buttonCount : 0;
}

std::uint32_t CConCommonH::getValuatorOrder(std::uint32_t controller, std::uint32_t r) const {
    const ControllerEntry* e = entry(controller);
    if (e == nullptr || r < 1 || r > ControllerEntry::kMaxValuators) return 0;
    return e->valuatorOrder[r - 1];
}

std::uint32_t CConCommonH::getButtonOrder(std::uint32_t controller, std::uint32_t r) const {
    const ControllerEntry* e = entry(controller);
    if (e == nullptr || r < 1 || r > ControllerEntry::kMaxButtons) return 0;
    return e->buttonOrder[r - 1];
}

CConCommonH::Publication CConCommonH::publication(std::uint32_t controller) const {
    return Publication{outputOffset + controller, entryNumber(getOutputNumber(controller), outputOffset)};
}

std::uint32_t CConCommonH::trackerPublication(std::uint32_t controller, std::uint32_t trackerOffset) const {
    return entryNumber(getEmulatedTrackerNumber(controller), trackerOffset);
}

std::uint32_t CConCommonH::getEmulatedTrackerNumber(std::uint32_t controller) const {
    const ControllerEntry* e = entry(controller);
    return (e != nullptr && e->trackerEmulation != nullptr) ? e->trackerEmulation->trackerNumber : 0;
}
