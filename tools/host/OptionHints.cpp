#include "OptionHints.h"

#include <algorithm>
#include <cctype>

namespace host {

namespace {

// The wand's own options and those of its controller and tracker emulation.
const char* const kWandOptions[] = {
    "serialport", "port", "valincrementrate", "valrate", "valdecrementrate", "emulatetracker", "valuatororder",
    "buttonorder", "valuatorscale", "controllerorder", "unitorder", "order",
};
// Options of an emulated tracker: they apply only with an emulatetracker line.
const char* const kTrackerOptions[] = {
    "transmitteroffset", "transmitterrotation", "transmitterrotationmatrix", "sensoroffset", "sensortranslation",
    "sensorrotation", "sensorrotationmatrix", "calibration", "calib", "trackerorder", "cavecoord", "cavecoordinates",
};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
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

std::vector<std::string> optionHints(const std::string& fileName, const DeviceConfig& device,
                                     const OptionList& handedOver) {
    std::vector<std::string> hints;
    bool emulated = std::any_of(device.options.begin(), device.options.end(),
                                [](const OptionLine& o) { return lower(o.name) == "emulatetracker"; });
    const std::size_t lines = std::min<std::size_t>(device.options.size(), handedOver.usedEntries());
    for (std::size_t i = 0; i < lines; ++i) {
        const OptionLine& option = device.options[i];
        if (handedOver.entries[i].recognised) continue;
        const std::string where = fileName + ":" + std::to_string(option.line) + ": ";
        const std::size_t trackerOptions = sizeof kTrackerOptions / sizeof *kTrackerOptions;
        if (isOneOf(option.name, kTrackerOptions, trackerOptions)) {
            if (!emulated) hints.push_back(where + "\"" + option.name + "\": tracker options need an emulatetracker line");
            continue;
        }
        if (isOneOf(option.name, kWandOptions, sizeof kWandOptions / sizeof *kWandOptions)) continue;
        std::string hint = where + "\"" + option.name + "\" is not an option of the wand";
        std::string meant = closestWandOption(option.name);
        if (!meant.empty()) hint += " (did you mean \"" + meant + "\"?)";
        hints.push_back(hint);
    }
    return hints;
}

}  // namespace host
