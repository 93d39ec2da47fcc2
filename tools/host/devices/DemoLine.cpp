#include "DemoLine.h"

#include "InstallPaths.h"

#include <chrono>

namespace host {

bool startDemoLine(const HostOptions& options, ChildProgram& sim, HostConfig& config, std::string& error) {
    if (!options.config.empty() || !options.port.empty()) return true;
    std::string program = options.sim.empty() ? builtInSimPath() : options.sim;
    if (!sim.start(program, {"--demo", "--quiet", "--stay"}, error)) {
        error = "starting the simulator: " + error;
        return false;
    }
    std::string port = sim.port(std::chrono::seconds(10));
    if (port.empty()) {
        error = "the simulator " + program + " named no line";
        return false;
    }
    for (DeviceConfig& d : config.devices)
        for (OptionLine& o : d.options)
            if (o.name == "serialport") o.args = {port};
    return true;
}

}  // namespace host
