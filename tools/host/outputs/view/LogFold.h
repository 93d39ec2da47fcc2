// outputs/view/: the terminal view: the devices, their entries and the log, live or as plain text.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace host {

// Keeps the view's log pane readable while a device reconnects: its report
// shows once, and each later try becomes one line with the device's own
// reason ("wand: reconnect try 3: Opening port ...: No such file or
// directory"). It also notes each device's last error line, for the state.
// Works on the text alone: device lines start with the device's name (after
// a date or time when the logger shows them), host lines with "quorlix-host: ".
class LogFold {
public:
    explicit LogFold(std::vector<std::string> devices) : devices_(std::move(devices)) {}

    // False when `line` is folded away; otherwise `shown` is what the pane shows.
    bool pass(const std::string& line, std::string& shown);
    // The message of the device's last error line since it last connected, or "".
    std::string lastError(const std::string& device) const;

private:
    struct Device {
        unsigned tryNumber = 0;  // a try under way, 0 when none
        std::string tryError;
        std::string lastError;
    };
    bool hostLine(const std::string& line, std::string& shown);

    std::vector<std::string> devices_;
    std::map<std::string, Device> state_;
};

}  // namespace host
