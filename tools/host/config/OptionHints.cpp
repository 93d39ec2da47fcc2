#include "OptionHints.h"


#include <algorithm>
#include <cctype>

namespace host {

namespace {

// The wand's own options and its controller's (the orders it refuses included:
// the device says why).
const char* const kWandOptions[] = {
    "serialport", "port", "valincrementrate", "valrate", "valdecrementrate", "emulatetracker", "valuatororder",
    "buttonorder", "valuatorscale", "controllerorder", "unitorder", "order", "trackerorder",
};
// Options of an emulated tracker: they apply only with an emulatetracker line.
const char* const kTrackerOptions[] = {
    "transmitteroffset", "transmitterrotation", "transmitterrotationmatrix", "sensoroffset", "sensortranslation",
    "sensorrotation", "sensorrotationmatrix", "calibration", "calib", "cavecoord", "cavecoordinates",
};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Edits from one to the other, two neighbours swapped counting as one.
std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

bool isOneOf(const std::string& name, const char* const* names, std::size_t count) {
    return std::find(names, names + count, lower(name)) != names + count;
}

}  // namespace

std::string closestWandOption(const std::string& name) {
    const std::string wanted = lower(name);
    std::string best;
    std::size_t bestDistance = std::max<std::size_t>(1, std::min<std::size_t>(2, wanted.size() / 3)) + 1;
    auto consider = [&](const char* candidate) {
        std::size_t d = editDistance(wanted, candidate);
        if (d < bestDistance) {
            best = candidate;
            bestDistance = d;
        }
    };
    for (const char* option : kWandOptions) consider(option);
    for (const char* option : kTrackerOptions) consider(option);
    return best;
}

namespace {

// The hint for an option line the wand does not recognise, "" for one it may.
std::string unknownOptionHint(const std::string& fileName, const OptionLine& option, bool emulated) {
    const std::string where = fileName + ":" + std::to_string(option.line) + ": ";
    if (isOneOf(option.name, kTrackerOptions, sizeof kTrackerOptions / sizeof *kTrackerOptions))
        return emulated ? "" : where + "\"" + option.name + "\": tracker options need an emulatetracker line";
    if (isOneOf(option.name, kWandOptions, sizeof kWandOptions / sizeof *kWandOptions)) return "";
    std::string hint = where + "\"" + option.name + "\" is not an option of the wand";
    // The host's own settings, written under a device by mistake.
    static const char* const kHostSettings[] = {"osc", "osc-ttl", "vrpn", "shm-group", "realtime"};
    if (isOneOf(option.name, kHostSettings, sizeof kHostSettings / sizeof *kHostSettings))
        return hint + " (it is a setting of the host: write it before the first device line)";
    std::string meant = closestWandOption(option.name);
    if (!meant.empty()) hint += " (did you mean \"" + meant + "\"?)";
    return hint;
}

bool emulatesTracker(const DeviceConfig& device) {
    return std::any_of(device.options.begin(), device.options.end(),
                       [](const OptionLine& o) { return lower(o.name) == "emulatetracker"; });
}

}  // namespace

std::vector<std::string> optionHints(const std::string& fileName, const DeviceConfig& device,
                                     const OptionList& handedOver) {
    std::vector<std::string> hints;
    const bool emulated = emulatesTracker(device);
    const std::size_t lines = std::min<std::size_t>(device.options.size(), handedOver.usedEntries());
    for (std::size_t i = 0; i < lines; ++i) {
        if (handedOver.entries[i].recognised) continue;
        std::string hint = unknownOptionHint(fileName, device.options[i], emulated);
        if (!hint.empty()) hints.push_back(hint);
    }
    return hints;
}

std::vector<std::string> unknownWandOptions(const std::string& fileName, const DeviceConfig& device) {
    std::vector<std::string> hints;
    const bool emulated = emulatesTracker(device);
    for (const OptionLine& option : device.options) {
        std::string hint = unknownOptionHint(fileName, option, emulated);
        if (!hint.empty()) hints.push_back(hint);
    }
    return hints;
}

std::vector<std::string> defaultNotes(const std::string& fileName, const DeviceConfig& device) {
    auto given = [&](std::initializer_list<const char*> names) {
        return std::any_of(device.options.begin(), device.options.end(), [&](const OptionLine& o) {
            return std::any_of(names.begin(), names.end(), [&](const char* n) { return lower(o.name) == n; });
        });
    };
    std::vector<std::string> notes;
    const std::string where = fileName + ": " + device.name + ": ";
    if (configuredPort(device).empty())
        notes.push_back(where + "no serialport line: the wand's default port com2 (/dev/ttyS1) is used");
    if (!given({"valrate", "valincrementrate"}))
        notes.push_back(where + "no valrate line: the valuators do not move (the wand's default rate is 0; "
                                "valrate 0.1 moves one from 0 to 1 in about a second)");
    return notes;
}

}  // namespace host
