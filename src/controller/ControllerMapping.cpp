#include "controller/CConCommonH.h"
#include "support/SinglePrecision.h"
#include "storage/ByteOrder.h"
#include "storage/ConData.h"
#include "storage/EntryNumber.h"
#include "storage/TraData.h"

#include <cmath>

double CConCommonH::scaleValuator(std::uint32_t controller, std::uint32_t valuator, float x) const {
    const ControllerEntry* e = entry(controller);
    if (e == nullptr || valuator < 1 || valuator > ControllerEntry::kMaxValuators) return 0.0;
    const float* a = e->valuatorScale[valuator - 1];
    const long double v = x;
    return static_cast<double>(v * v * v * a[0] + v * v * a[1] + v * a[2] + a[3]);
}

bool CConCommonH::mapController(std::uint32_t controller, const float* valuators, std::uint32_t valuatorValues,
                                const std::int32_t* buttons, std::uint32_t buttonValues, ConData& record) const {
    const ControllerEntry* e = entry(controller);
    if (e == nullptr) return false;
    if (valuators == nullptr) valuatorValues = 0;
    if (buttons == nullptr) buttonValues = 0;
    for (std::uint32_t r = 1; r <= e->valuatorCount && r <= valuatorValues; ++r) {
        const float y = toSingle(scaleValuator(controller, r, valuators[r - 1]));
        // Drops order element 0 and outputs the record cannot hold; saturates.
        record.storeValuator(e->valuatorOrder[r - 1], y);
    }
    for (std::uint32_t r = 1; r <= e->buttonCount && r <= buttonValues; ++r) {
        record.setButton(e->buttonOrder[r - 1], buttons[r - 1]);
    }
    const std::uint32_t number = publication(controller).number;
    if (number != 0) record.number = hostToNet(number);
    return true;
}

bool CConCommonH::emulateTracker(std::uint32_t controller, TraData* tracker, const ConData* record) {
    const ControllerEntry* e = entry(controller);
    if (e == nullptr || tracker == nullptr || record == nullptr || e->trackerEmulation == nullptr) return false;
    TrackerEmulation& t = *e->trackerEmulation;
    const std::int32_t c = static_cast<std::int32_t>(controller);

    if (t.resetButton != 0 && record->getButton(t.resetButton) == 1) {
        return resetEmulatedTracker(c, tracker, record);
    }
    tracker->setTime(netToHostSigned(record->timeSec), netToHostSigned(record->timeUsec));
    tracker->setNumber(t.trackerNumber);
    if (t.lastUpdateTime == 0.0) {
        t.lastUpdateTime = clockSource();
        return resetEmulatedTracker(c, tracker, record);
    }
    const double now = clockSource();
    elapsedTime = now - t.lastUpdateTime;
    t.lastUpdateTime = now;

    // A clock that is not finite would turn even a still valuator into NaN.
    const double step = std::isfinite(elapsedTime) ? elapsedTime : 0.0;
    const auto advance = [&](std::uint32_t k, float current) {
        const float v = record->getValuator(t.valuatorAssignment[k]);
        // Pose and valuator are read back from fixed point, so they are finite;
        // a long run grows to infinity at worst, and the setters saturate.
        const float increment = toSingle(static_cast<double>(v) * step);
        return current + increment;
    };
    tracker->setX(advance(0, tracker->getX()));
    tracker->setY(advance(1, tracker->getY()));
    tracker->setZ(advance(2, tracker->getZ()));
    tracker->setAzim(advance(3, tracker->getAzim()));
    tracker->setElev(advance(4, tracker->getElev()));
    tracker->setRoll(advance(5, tracker->getRoll()));
    return true;
}

bool CConCommonH::resetEmulatedTracker(std::int32_t controller, TraData* tracker, const ConData* record) const {
    const ControllerEntry* e = entry(static_cast<std::uint32_t>(controller));
    // A controller without an emulation has nothing to load.
    if (e == nullptr || e->trackerEmulation == nullptr || tracker == nullptr) return false;
    const TrackerEmulation& t = *e->trackerEmulation;
    if (record != nullptr) {
        tracker->timeSec = record->timeSec;
        tracker->timeUsec = record->timeUsec;
    }
    tracker->setNumber(t.trackerNumber);
    tracker->setX(t.initialValues[0]);
    tracker->setY(t.initialValues[1]);
    tracker->setZ(t.initialValues[2]);
    tracker->setAzim(t.initialValues[3]);
    tracker->setElev(t.initialValues[4]);
    tracker->setRoll(t.initialValues[5]);
    return true;
}
