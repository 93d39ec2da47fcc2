#pragma once

#include <chrono>
#include <string>

namespace sim {

struct SimOptions {
    enum class Mode { none, script, inline_, demo, interactive, replay, raw, forward };

    Mode mode = Mode::none;
    std::string source;        // script, capture or raw file ("-": standard input), forward device, inline text
    std::string port;          // a real serial device instead of a pseudo-terminal
    std::string link;          // symbolic link that follows the pseudo-terminal
    int baud = 9600;           // line rate of a real device (and of --forward's source)
    int pace = 0;              // bytes paced at this line rate; 0: unpaced
    std::string capture;       // everything sent, as a capture for --replay
    std::string stamps;        // monotonic time (ns) each write's last byte began, one per line
    bool stay = false;         // keep the line open after the script until interrupted
    bool waitForHost = true;   // start only once a host holds the line open
    bool verbose = false;
    bool quiet = false;
    std::chrono::milliseconds linger{2000};
    bool help = false;
    bool version = false;
};

// False with `error` set for an unknown flag, a missing value or two modes.
bool parseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error);

extern const char* const kSimUsage;

}  // namespace sim
