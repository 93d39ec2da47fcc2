// config/: what the host is told: the flags of its three modes, the configuration file, hints for mistakes.
#pragma once

#include <lo/lo.h>

#include <string>

namespace host {

// The liblo address of an osc.udp URL with a host and a port (1 to 65535);
// null with `error` ("URL: what is wrong") for anything else.
lo_address openOscAddress(const std::string& url, std::string& error);

// "URL: what is wrong" for a URL openOscAddress would refuse, else "".
std::string oscUrlProblem(const std::string& url);

}  // namespace host
