// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include "VrpnAddress.h"

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// Switches and levels of the logger that every device copies.
struct LoggerSettings {
    bool showDate = true;
    bool showTime = true;
    bool showThreadId = true;
    bool enabled = true;
    std::int32_t debugLevel = 0;
    std::int32_t debugThreshold = 1;
};

// One option line of a device, as the device will see it.
struct OptionLine {
    unsigned line = 0;
    std::string name;
    std::vector<std::string> args;
};

struct DeviceConfig {
    std::string name;
    std::string library;
    unsigned line = 0;
    std::vector<OptionLine> options;
};

// A receiver of every change over OSC, and the line that names it.
struct OscLine {
    unsigned line = 0;
    std::string url;
};

struct HostConfig {
    std::string fileName;
    LoggerSettings logger;
    std::string shmGroup;   // shm-group: group that may read the shared memory
    unsigned shmGroupLine = 0;
    int realtime = 0;       // realtime: SCHED_FIFO priority of the device threads; 0: normal
    std::vector<OscLine> osc;
    int oscTtl = 0;         // osc-ttl: multicast hops; 0: the system's (1)
    VrpnAddress vrpn;       // vrpn: a VRPN server for the devices
    std::vector<DeviceConfig> devices;
};

// The port a device's options name (serialport or port), "" when none.
std::string configuredPort(const DeviceConfig& device);
// The line of the configuration that names it (the device's line when none does).
unsigned configuredPortLine(const DeviceConfig& device);
// The device file a port names, found as the wand finds it: a name with a '/'
// as it is, comN as /dev/ttyS(N-1), any other name in /dev.
std::string portDevicePath(const std::string& port);

// What one host can hold: the storages have 32 entries, the option list 32
// lines of at most 64 arguments, and a device name fills at most 31
// characters of the shared memory's owner field.
constexpr std::size_t kMaxDevices = 32;
constexpr std::size_t kMaxOptionLines = 32;
constexpr std::size_t kMaxOptionArgs = 64;
constexpr std::size_t kMaxDeviceName = 31;

}  // namespace host
