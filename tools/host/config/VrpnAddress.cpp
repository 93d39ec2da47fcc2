#include "VrpnAddress.h"

#include <cctype>

namespace host {

std::string VrpnAddress::where() const {
    return (address.empty() ? std::string("every interface") : address) + ", port " + std::to_string(port);
}

bool parseVrpnAddress(const std::string& text, VrpnAddress& out, std::string& problem) {
    const std::string origin = out.origin;
    out = VrpnAddress();
    out.origin = origin;
    out.on = true;
    if (text.empty()) return true;
    const std::size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    const std::string address = colon == std::string::npos ? "" : text.substr(0, colon);
    if (colon != std::string::npos && address.empty()) {
        problem = "\"" + text + "\": an address before the ':', or the port alone";
        return false;
    }
    for (char c : address) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') {
            problem = "\"" + text + "\": " + address + " is not an IPv4 address or a host name";
            return false;
        }
    }
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535) {
        problem = "\"" + text + "\": the port is a number from 1 to 65535 (or 0: any free one)";
        return false;
    }
    out.address = address;
    out.port = std::stoi(port);
    return true;
}

}  // namespace host
