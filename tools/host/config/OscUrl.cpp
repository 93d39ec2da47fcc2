#include "OscUrl.h"

#include <cstdlib>
#include <cstring>

namespace host {

lo_address openOscAddress(const std::string& url, std::string& error) {
    const std::string example = " (for example osc.udp://render1:7770/ or osc.udp://239.255.42.1:7770/)";
    if (url.compare(0, 10, "osc.udp://") != 0) {
        error = url + ": not an OSC URL over UDP" + example;
        return nullptr;
    }
    lo_address address = lo_address_new_from_url(url.c_str());
    const char* hostName = address != nullptr ? lo_address_get_hostname(address) : nullptr;
    const char* port = address != nullptr ? lo_address_get_port(address) : nullptr;
    const long number = port != nullptr ? std::strtol(port, nullptr, 10) : 0;
    if (address == nullptr || hostName == nullptr || *hostName == '\0' || port == nullptr ||
        std::strspn(port, "0123456789") != std::strlen(port) || number < 1 || number > 65535) {
        if (address != nullptr) lo_address_free(address);
        error = url + ": needs a host and a port (1 to 65535)" + example;
        return nullptr;
    }
    return address;
}

std::string oscUrlProblem(const std::string& url) {
    std::string error;
    lo_address address = openOscAddress(url, error);
    if (address != nullptr) lo_address_free(address);
    return error;
}

}  // namespace host
