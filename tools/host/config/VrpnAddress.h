// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include <string>

namespace host {

// Where the VRPN server listens: TCP and UDP on one port.
struct VrpnAddress {
    bool on = false;
    std::string address;  // an IPv4 address or name of this machine; "": every interface
    int port = 3883;      // VRPN's own; 0: a free one, said when it listens
    std::string origin;   // "--vrpn" or "FILE:LINE: vrpn", for messages

    std::string where() const;
};

// [[ADDR:]PORT] ("" for the default) into `out`; false with `problem` set.
bool parseVrpnAddress(const std::string& text, VrpnAddress& out, std::string& problem);

}  // namespace host
