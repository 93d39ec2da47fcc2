#include "controller/BracketList.h"
#include "controller/CConCommonH.h"
#include "support/CLogH.h"
#include "support/OptionArgs.h"
#include "support/OptionList.h"
#include "support/Text.h"

namespace {

using optionargs::kIncomplete;
using optionargs::kInvalidArg;
const char* const kInvalidController = "Invalid controller ID found for ";
const char* const kInvalidValuator = "Invalid valuator ID found for ";

// IDs compare unsigned, so a negative ID is above every limit.
std::uint32_t readId(const char* text) { return static_cast<std::uint32_t>(parseInteger(text)); }

}  // namespace

void CConCommonH::reportLineError(const char* problem, const char* option, std::uint32_t lineNumber,
                                  const char* ending) const {
    optionargs::reportFault(*logger, "", problem, option, lineNumber, ending);
}

ControllerEntry* CConCommonH::namedController(const OptionEntry& line, const char* option,
                                              const char* idOption) const {
    if (line.usedArgs() == 0) {
        reportLineError(kIncomplete, option, line.lineNumber, ".");
        return nullptr;
    }
    ControllerEntry* e = entry(readId(line.arg(1)));
    if (e == nullptr) reportLineError(kInvalidController, idOption, line.lineNumber, ".");
    return e;
}

bool CConCommonH::parseOptions(OptionList* list) {
    if (controllerList == nullptr) {
        logger->error("CConCommonH: lookup Null", true);
        return false;
    }
    if (list == nullptr) {
        logger->error("CConCommonH: config empty", true);
        return false;
    }
    bool failed = false;
    const std::uint32_t used = list->usedEntries();
    for (std::uint32_t i = 0; i < used; ++i) {
        OptionEntry& line = list->entries[i];
        const char* name = line.nameText();
        bool applied;
        if (compareNoCase(name, "emulatetracker") == 0) {
            applied = parseEmulateTracker(line);
        } else if (compareNoCase(name, "valuatororder") == 0) {
            applied = parseOrder(line, false);
        } else if (compareNoCase(name, "buttonorder") == 0) {
            applied = parseOrder(line, true);
        } else if (compareNoCase(name, "valuatorscale") == 0) {
            applied = parseValuatorScale(line);
        } else if (!inputConnector && (compareNoCase(name, "controllerorder") == 0 ||
                                       compareNoCase(name, "unitorder") == 0 || compareNoCase(name, "order") == 0)) {
            applied = parseControllerOrder(line);
        } else {
            continue;
        }
        if (applied) {
            line.recognised = true;
        } else {
            failed = true;
        }
    }
    return !failed;
}

bool CConCommonH::parseEmulateTracker(const OptionEntry& line) {
    const char* option = "EmulateTracker at line ";
    const char* idOption = "EmulateTracker option at line ";
    const std::uint32_t n = line.usedArgs();
    const ControllerEntry* e = namedController(line, option, idOption);
    if (e == nullptr) return false;
    const std::uint32_t controller = readId(line.arg(1));
    if (n < 2) {
        reportLineError(kIncomplete, option, line.lineNumber, ".");
        return false;
    }
    float initial[TrackerEmulation::kPoseValues] = {};
    readBracketList(line.arg(2), initial, TrackerEmulation::kPoseValues);
    if (const char* problem = optionargs::countProblem(n, 8, 9)) {
        reportLineError(problem, option, line.lineNumber, ".");
        return false;
    }
    std::uint32_t assignment[TrackerEmulation::kPoseValues];
    for (std::uint32_t k = 0; k < TrackerEmulation::kPoseValues; ++k) {
        const std::uint32_t v = readId(line.arg(3 + k));
        if (v != 0 && (v > e->valuatorCount || v > ControllerEntry::kMaxValuators)) {
            reportLineError(kInvalidValuator, idOption, line.lineNumber, ".");
            return false;
        }
        assignment[k] = v;
    }
    std::uint32_t resetButton = 0;
    if (n == 9) {
        resetButton = readId(line.arg(9));
        if (resetButton == 0 || resetButton > e->buttonCount || resetButton > ControllerEntry::kMaxButtons) {
            reportLineError("Invalid button ID found for ", idOption, line.lineNumber, ". Ignored.");
            return false;
        }
    }
    return setTrackerEmulation(controller, 0, initial, assignment, static_cast<std::int32_t>(resetButton));
}

bool CConCommonH::parseOrder(const OptionEntry& line, bool buttons) {
    const char* option = "Order at line ";
    const char* idOption = "Order option at line ";
    const std::uint32_t n = line.usedArgs();
    ControllerEntry* e = namedController(line, option, idOption);
    if (e == nullptr) return false;
    std::uint32_t* table = buttons ? e->buttonOrder : e->valuatorOrder;
    std::uint32_t& count = buttons ? e->buttonCount : e->valuatorCount;
    const std::uint32_t tableSize = buttons ? ControllerEntry::kMaxButtons : ControllerEntry::kMaxValuators;
    const std::uint32_t bound = countLimit ? count : tableSize;

    std::uint32_t highest = 0;
    for (std::uint32_t p = 1; p < n; ++p) {
        const char* text = line.arg(p + 1);
        const std::uint32_t v = readId(text);
        if (v != 0 && v > highest) highest = v;
        if (v == 0 && beginsWithLetter(text)) {
            reportLineError(kInvalidArg, option, line.lineNumber, ".");
            return false;
        }
        for (std::uint32_t later = p + 1; v != 0 && later < n; ++later) {
            if (readId(line.arg(later + 1)) == v) {
                reportLineError("Same ID found more than once in ", idOption, line.lineNumber, ".");
                return false;
            }
        }
    }
    // The bound never exceeds the table, so every ID below indexes inside it.
    if (highest > bound || highest > tableSize) {
        reportLineError("Invalid ID found in ", idOption, line.lineNumber, ".");
        return false;
    }
    count = highest;
    for (std::uint32_t r = 0; r < tableSize; ++r) table[r] = 0;
    for (std::uint32_t p = 1; p < n; ++p) {
        const std::uint32_t v = readId(line.arg(p + 1));
        if (v != 0) table[v - 1] = p;
    }
    return true;
}

bool CConCommonH::parseValuatorScale(const OptionEntry& line) {
    const char* option = "ValuatorScale at line ";
    const char* idOption = "ValuatorScale option at line ";
    const std::uint32_t n = line.usedArgs();
    ControllerEntry* e = namedController(line, option, idOption);
    if (e == nullptr) return false;
    if (n < 3) {
        reportLineError(kIncomplete, option, line.lineNumber, ".");
        return false;
    }
    float scale[ControllerEntry::kScaleTerms] = {};
    const char* factor = line.arg(2);
    if (factor[0] == '[') {
        readBracketList(factor, scale, ControllerEntry::kScaleTerms);
        if (scale[0] == 0.0f && scale[1] == 0.0f && scale[2] == 0.0f && scale[3] == 0.0f) {
            reportLineError(kIncomplete, option, line.lineNumber, ".");
            return false;
        }
    } else {
        if (!optionargs::readReal(factor, scale[2])) {
            reportLineError(kInvalidArg, option, line.lineNumber, ".");
            return false;
        }
    }
    std::uint32_t selected = 0;  // bit r-1 selects valuator r
    for (std::uint32_t i = 3; i <= n; ++i) {
        const char* text = line.arg(i);
        if (compareNoCase(text, "all") == 0) {
            selected = 0xFFFFFFFFu;
            break;
        }
        const std::uint32_t v = readId(text);
        if (v == 0 || v > e->valuatorCount || v > ControllerEntry::kMaxValuators) {
            reportLineError(kInvalidValuator, idOption, line.lineNumber, ".");
            return false;
        }
        selected |= 1u << (v - 1);
    }
    for (std::uint32_t r = 0; r < ControllerEntry::kMaxValuators; ++r) {
        if ((selected >> r) & 1u) {
            for (std::uint32_t t = 0; t < ControllerEntry::kScaleTerms; ++t) e->valuatorScale[r][t] = scale[t];
        }
    }
    return true;
}

bool CConCommonH::parseControllerOrder(const OptionEntry& line) {
    const std::uint32_t n = line.usedArgs();
    const std::uint32_t m = n < outputControllerCount ? n : outputControllerCount;
    for (std::uint32_t j = 1; j <= m; ++j) {
        if (entry(readId(line.arg(j))) == nullptr) {
            reportLineError(kInvalidController, "Order option at line ", line.lineNumber, ".");
            return false;
        }
    }
    for (std::uint32_t c = 0; c < controllerCount; ++c) controllerList[c].outputNumber = 0;
    for (std::uint32_t j = 1; j <= m; ++j) entry(readId(line.arg(j)))->outputNumber = j;
    return true;
}
