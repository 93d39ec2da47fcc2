// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include "HostConfig.h"

#include <string>
#include <vector>

#include <sys/types.h>

namespace host {

// What the host can tell of a device's serial port, beyond what the device
// says itself.

// Why `port` cannot be a serial line at all (a file, a directory, a device
// that is no terminal), or "" when it may be one or is not there yet.
std::string portRefusal(const std::string& port);

// Other processes that have `port` open and may take its bytes (ModemManager
// probes new USB-serial adapters). For a pseudo-terminal, the program at its
// far end is not counted.
std::vector<pid_t> portHolders(const std::string& port);

// After a device could not open `port`: what the user can do about it (the
// group that may open it, the processes that hold it). Empty when nothing
// more can be told.
std::vector<std::string> portHints(const std::string& port);

// True when this process can open `port` now (and closed it again).
bool portOpens(const std::string& port);

// False (reported) when a configured port cannot be a serial line at all;
// warns of other programs that hold a port and may take its bytes.
// `fromPortFlag`: the configuration is the built-in one --port filled in.
bool portsUsable(const HostConfig& config, bool fromPortFlag);

}  // namespace host
