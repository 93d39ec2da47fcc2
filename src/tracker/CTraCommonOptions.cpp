#include "tracker/CTraCommonH.h"

#include "support/CLogH.h"
#include "support/OptionArgs.h"
#include "support/OptionList.h"
#include "support/Text.h"
#include "tracker/CCalibH.h"
#include "tracker/TraUnits.h"

#include <cstring>

namespace {

using optionargs::kIncomplete;
using optionargs::kInvalidArg;
using optionargs::kTooMany;
constexpr const char* kInvalidTrackerId = "Invalid tracker ID found for ";
constexpr const char* kInvalidUnit = "Invalid unit found for ";
constexpr const char* kInvalidString = "Invalid string found for ";

struct OptionName {
    const char* name;
    int kind;  // index into kTitles, same order as the option kinds
};

constexpr const char* kTitles[] = {
    "TransmitterOffset at line ",    "TransmitterRotation at line ", "TransmitterRotationMatrix at line ",
    "SensorOffset at line ",         "SensorTranslation at line ",   "SensorRotation at line ",
    "SensorRotationMatrix at line ", "Calibration at line ",         "Order at line ",
    "CAVECoord at line ",
};

// Tried in this order; the first match decides.
constexpr OptionName kOptionNames[] = {
    {"transmitteroffset", 0}, {"transmitterrotation", 1}, {"transmitterrotationmatrix", 2},
    {"sensoroffset", 3},      {"sensortranslation", 4},   {"sensorrotation", 5},
    {"sensorrotationmatrix", 6}, {"calibration", 7},      {"calib", 7},
    {"trackerorder", 8},      {"unitorder", 8},           {"order", 8},
    {"cavecoord", 9},         {"cavecoordinates", 9},
};

void reportFault(const CLogH& logger, const char* problem, const char* title, std::uint32_t lineNumber) {
    optionargs::reportFault(logger, "", problem, title, lineNumber);
}

// The argument count and the `numbers` number arguments from `first` on, as
// the transmitter and sensor options share them.
bool readPoseArgs(const CLogH& logger, const OptionEntry& entry, const char* title, std::uint32_t fewest,
                  std::uint32_t most, std::uint32_t first, std::uint32_t numbers, float* values) {
    if (const char* problem = optionargs::countProblem(entry.usedArgs(), fewest, most)) {
        reportFault(logger, problem, title, entry.lineNumber);
        return false;
    }
    for (std::uint32_t a = 0; a < numbers; ++a) {
        if (!optionargs::readReal(entry.arg(first + a), values[a])) {
            reportFault(logger, kInvalidArg, title, entry.lineNumber);
            return false;
        }
    }
    return true;
}

// "yes"/"on" and "no"/"off", any case.
bool readSwitch(const char* text, bool& value) {
    if (compareNoCase(text, "yes") == 0 || compareNoCase(text, "on") == 0) {
        value = true;
        return true;
    }
    if (compareNoCase(text, "no") == 0 || compareNoCase(text, "off") == 0) {
        value = false;
        return true;
    }
    return false;
}

}  // namespace

bool CTraCommonH::readTrackerId(const char* text, std::uint32_t& trackerId) const {
    const std::int32_t value = parseInteger(text);
    // Negative ids turn huge unsigned and fall out with the too-large ones.
    if (value == 0 || static_cast<std::uint32_t>(value) > entryCount) return false;
    trackerId = static_cast<std::uint32_t>(value);
    return true;
}

bool CTraCommonH::parseOptions(OptionList* config) {
    if (lookup == nullptr) {
        logger->error("CTraCommonH: lookup is Null.", true);
        return false;
    }
    if (config == nullptr) {
        logger->error("CTraCommonH: config is empty.", true);
        return false;
    }

    bool failed = false;
    for (std::uint32_t i = 0; i < config->usedEntries(); ++i) {
        OptionEntry& entry = config->entries[i];
        int kindIndex = -1;
        for (const OptionName& option : kOptionNames) {
            if (compareNoCase(entry.nameText(), option.name) == 0) {
                kindIndex = option.kind;
                break;
            }
        }
        if (kindIndex < 0) continue;

        const OptionKind kind = static_cast<OptionKind>(kindIndex);
        bool ok = true;
        switch (kind) {
            case OptionKind::TransmitterOffset:
            case OptionKind::TransmitterRotation:
            case OptionKind::TransmitterRotationMatrix:
                ok = parseTransmitterOption(entry, kind, failed);
                break;
            case OptionKind::SensorOffset:
            case OptionKind::SensorTranslation:
            case OptionKind::SensorRotation:
            case OptionKind::SensorRotationMatrix:
                ok = parseSensorOption(entry, kind, failed);
                break;
            case OptionKind::Calibration:
                ok = parseCalibration(entry);
                break;
            case OptionKind::Order:
                ok = parseOrder(entry);
                break;
            case OptionKind::CaveCoord:
                ok = parseCaveCoord(entry);
                break;
        }
        if (!ok) failed = true;
    }
    return !failed;
}

bool CTraCommonH::parseTransmitterOption(OptionEntry& entry, OptionKind kind, bool afterFailure) {
    const char* title = kTitles[static_cast<int>(kind)];
    const std::uint32_t count = entry.usedArgs();
    std::uint32_t fewest = 3;
    std::uint32_t most = 4;
    std::uint32_t numbers = 3;
    if (kind == OptionKind::TransmitterRotation) {
        fewest = most = 4;
    } else if (kind == OptionKind::TransmitterRotationMatrix) {
        fewest = most = numbers = 9;
    }

    float v[9] = {};
    if (!readPoseArgs(*logger, entry, title, fewest, most, 1, numbers, v)) return false;
    // After an earlier fault the line is only checked this far, never applied.
    if (afterFailure) return true;

    if (kind == OptionKind::TransmitterOffset) {
        float factor = 1.0f;
        if (count == 4 && !lengthUnitFactor(entry.arg(4), factor)) {
            reportFault(*logger, kInvalidString, title, entry.lineNumber);
            return false;
        }
        const float x = v[0] * factor;
        const float y = v[1] * factor;
        const float z = v[2] * factor;
        // An all-zero offset keeps whatever offset was given before.
        if (x == 0.0f && y == 0.0f && z == 0.0f) {
            entry.recognised = true;
            return true;
        }
        transmitterOffset = matrixOffset(x, y, z);
        transmitterOffsetSet = true;
    } else if (kind == OptionKind::TransmitterRotation) {
        float angle = 0.0f;
        if (!optionargs::readReal(entry.arg(4), angle)) {
            reportFault(*logger, kInvalidArg, title, entry.lineNumber);
            return false;
        }
        transmitterRotation = matrixRotation(v[0], v[1], v[2], angle);
        transmitterRotationSet = true;
    } else {
        transmitterRotation = matrixFromRows(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
        transmitterRotationSet = true;
    }
    transmitterTransform = matrixCompose(transmitterRotation, transmitterOffset);
    entry.recognised = true;
    return true;
}

bool CTraCommonH::parseSensorOption(OptionEntry& entry, OptionKind kind, bool afterFailure) {
    const char* title = kTitles[static_cast<int>(kind)];
    const std::uint32_t count = entry.usedArgs();
    if (count < 1) {
        reportFault(*logger, kIncomplete, title, entry.lineNumber);
        return false;
    }
    std::uint32_t trackerId = 0;
    if (!readTrackerId(entry.arg(1), trackerId)) {
        reportFault(*logger, kInvalidTrackerId, title, entry.lineNumber);
        return false;
    }

    std::uint32_t fewest = 4;
    std::uint32_t most = 5;
    std::uint32_t numbers = 3;
    if (kind == OptionKind::SensorRotation) {
        fewest = most = 5;
    } else if (kind == OptionKind::SensorRotationMatrix) {
        fewest = most = 10;
        numbers = 9;
    }
    float v[9] = {};
    if (!readPoseArgs(*logger, entry, title, fewest, most, 2, numbers, v)) return false;
    if (afterFailure) return true;

    TraLookupEntry& sensor = lookup[trackerId - 1];
    if (kind == OptionKind::SensorOffset || kind == OptionKind::SensorTranslation) {
        float factor = 1.0f;
        if (count == 5 && !lengthUnitFactor(entry.arg(5), factor)) {
            reportFault(*logger, kInvalidUnit, title, entry.lineNumber);
            return false;
        }
        const float x = v[0] * factor;
        const float y = v[1] * factor;
        const float z = v[2] * factor;
        if (kind == OptionKind::SensorOffset) {
            sensor.sensorOffset = matrixOffset(x, y, z);
            sensor.offsetSet = true;
            sensor.sensorTransform = matrixCompose(sensor.sensorRotation, sensor.sensorOffset);
        } else {
            sensor.sensorTranslation[0] = x;
            sensor.sensorTranslation[1] = y;
            sensor.sensorTranslation[2] = z;
            sensor.translationSet = true;
        }
    } else {
        if (kind == OptionKind::SensorRotation) {
            float angle = 0.0f;
            if (!optionargs::readReal(entry.arg(5), angle)) {
                reportFault(*logger, kInvalidArg, title, entry.lineNumber);
                return false;
            }
            sensor.sensorRotation = matrixRotation(v[0], v[1], v[2], angle);
        } else {
            sensor.sensorRotation = matrixFromRows(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
        }
        sensor.rotationSet = true;
        sensor.sensorTransform = matrixCompose(sensor.sensorRotation, sensor.sensorOffset);
    }
    entry.recognised = true;
    return true;
}

bool CTraCommonH::parseCalibration(OptionEntry& entry) {
    const char* title = kTitles[static_cast<int>(OptionKind::Calibration)];
    const std::uint32_t count = entry.usedArgs();
    if (count < 1) {
        reportFault(*logger, kIncomplete, title, entry.lineNumber);
        return false;
    }
    // The name buffer names the library that is held, so a refused line must
    // leave it alone: a name that does not fit is refused, not cut.
    const char* name = entry.arg(1);
    if (strnlen(name, kLibraryNameSize) >= kLibraryNameSize) {
        reportFault(*logger, kInvalidArg, title, entry.lineNumber);
        return false;
    }
    if (count - 1 > kMaxCalibrationArgs) {
        reportFault(*logger, kTooMany, title, entry.lineNumber);
        return false;
    }

    releaseCalibration();
    std::memcpy(calibLibraryName, name, std::strlen(name) + 1);
    // Whether the library loaded is not our concern: the loader has said so.
    calibLibrary = new CCalibH(calibLibraryName, logger);
    for (std::uint32_t a = 0; a + 1 < count; ++a) calibArgs[a] = entry.arg(a + 2);
    calibArgCount = count - 1;
    entry.recognised = true;
    return true;
}

bool CTraCommonH::parseOrder(OptionEntry& entry) {
    if (inputConnector) {
        reportFault(*logger, "Can not change the order on input connector at line ", "", entry.lineNumber);
        return false;
    }
    const std::uint32_t count = entry.usedArgs() < maxTrackers ? entry.usedArgs() : maxTrackers;
    std::uint32_t ids[OptionEntry::kMaxArgs] = {};
    for (std::uint32_t a = 0; a < count; ++a) {
        if (!readTrackerId(entry.arg(a + 1), ids[a])) {
            reportFault(*logger, kInvalidTrackerId, kTitles[static_cast<int>(OptionKind::Order)], entry.lineNumber);
            return false;
        }
    }
    for (std::uint32_t n = 0; n < entryCount; ++n) lookup[n].order = 0;
    // A repeated id keeps its later position; the earlier one stays empty.
    for (std::uint32_t a = 0; a < count; ++a) lookup[ids[a] - 1].order = a + 1;
    entry.recognised = true;
    return true;
}

bool CTraCommonH::parseCaveCoord(OptionEntry& entry) {
    // Only input connectors know this option; others leave it to the unknown-option report.
    if (!inputConnector) return true;
    const char* title = kTitles[static_cast<int>(OptionKind::CaveCoord)];
    const std::uint32_t count = entry.usedArgs();
    if (const char* problem = optionargs::countProblem(count, 1, 1)) {
        reportFault(*logger, problem, title, entry.lineNumber);
        return false;
    }
    bool value = false;
    if (!readSwitch(entry.arg(1), value)) {
        reportFault(*logger, kInvalidString, title, entry.lineNumber);
        return false;
    }
    caveCoordinates = value;
    entry.recognised = true;
    return true;
}
