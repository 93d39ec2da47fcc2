#include "HostConfig.h"

#include <cctype>

namespace host {

namespace {

// The last serialport or port line, which the device uses; null when none.
const OptionLine* portLine(const DeviceConfig& device) {
    const OptionLine* found = nullptr;
    for (const OptionLine& line : device.options) {
        std::string name = line.name;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((name == "serialport" || name == "port") && line.args.size() == 1) found = &line;
    }
    return found;
}

}  // namespace

std::string configuredPort(const DeviceConfig& device) {
    const OptionLine* line = portLine(device);
    return line != nullptr ? line->args[0] : std::string();
}

unsigned configuredPortLine(const DeviceConfig& device) {
    const OptionLine* line = portLine(device);
    return line != nullptr ? line->line : device.line;
}

std::string portDevicePath(const std::string& port) {
    if (port.empty() || port.find('/') != std::string::npos) return port;
    // comN, in any case, is the N-th serial port: /dev/ttyS(N-1).
    const bool com = port.size() > 3 && std::tolower(static_cast<unsigned char>(port[0])) == 'c' &&
                     std::tolower(static_cast<unsigned char>(port[1])) == 'o' &&
                     std::tolower(static_cast<unsigned char>(port[2])) == 'm' &&
                     port.find_first_not_of("0123456789", 3) == std::string::npos;
    unsigned long n = 0;
    for (std::size_t i = 3; com && i < port.size() && n <= 100000; ++i) n = n * 10 + static_cast<unsigned long>(port[i] - '0');
    if (com && n > 0 && n <= 100000) return "/dev/ttyS" + std::to_string(n - 1);
    return "/dev/" + port;
}

}  // namespace host
