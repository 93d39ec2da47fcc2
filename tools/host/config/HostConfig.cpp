#include "HostConfig.h"

#include <cctype>

namespace host {

std::string configuredPort(const DeviceConfig& device) {
    std::string port;
    for (const OptionLine& line : device.options) {
        std::string name = line.name;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((name == "serialport" || name == "port") && line.args.size() == 1) port = line.args[0];
    }
    return port;
}

}  // namespace host
