// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include "HostConfig.h"

#include "support/OptionList.h"

#include <string>
#include <vector>

namespace host {

// After a device's init failed: a line for each of its option lines that no
// parser of the device recognised, with file and line and what was probably
// meant: `wands.conf:2: "serailport" is not an option of the wand (did you
// mean "serialport"?)`. Lines the device knows but refused (a bad argument)
// get none: the device's own message says what is wrong with them.
std::vector<std::string> optionHints(const std::string& fileName, const DeviceConfig& device,
                                     const OptionList& handedOver);

// The same, told without the device: for a wand whose port is not there yet,
// which is not initialised until it is.
std::vector<std::string> unknownWandOptions(const std::string& fileName, const DeviceConfig& device);

// The wand's values that came from no line of the configuration and that a
// user would not guess: where the wand's port and valuator rates came from.
std::vector<std::string> defaultNotes(const std::string& fileName, const DeviceConfig& device);

// The option name of the wand closest to `name` (a typing slip or two), or "".
std::string closestWandOption(const std::string& name);

}  // namespace host
