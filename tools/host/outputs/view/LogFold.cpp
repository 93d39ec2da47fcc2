#include "LogFold.h"

#include <cctype>
#include <cstdlib>

namespace host {

namespace {

const std::string kHost = "quorlix-host: ";
const std::string kError = "ERROR: ";

// Where the text after the name of a device's line starts, or npos.
std::size_t afterName(const std::string& line, const std::string& name) {
    for (std::size_t at = line.find(name); at != std::string::npos; at = line.find(name, at + 1)) {
        std::size_t end = at + name.size();
        if ((at == 0 || line[at - 1] == ' ') && end < line.size() && (line[end] == ':' || line[end] == '[')) {
            std::size_t colon = line.find(": ", end);
            return colon == std::string::npos ? std::string::npos : colon + 2;
        }
        if (at > 40) break;  // past any date and time
    }
    return std::string::npos;
}

bool startsWith(const std::string& text, std::size_t at, const std::string& prefix) {
    return text.compare(at, prefix.size(), prefix) == 0;
}

// "CRS232H: Opening port ..." without the name of the part that wrote it.
std::string withoutSource(const std::string& message) {
    std::size_t colon = message.find(": ");
    if (colon == std::string::npos || colon == 0 || colon > 24) return message;
    for (std::size_t i = 0; i < colon; ++i)
        if (!std::isalnum(static_cast<unsigned char>(message[i]))) return message;
    return message.substr(colon + 2);
}

}  // namespace

bool LogFold::hostLine(const std::string& line, std::string& shown) {
    for (const std::string& name : devices_) {
        const std::string prefix = kHost + name + ": ";
        if (!startsWith(line, 0, prefix)) continue;
        const std::string what = line.substr(prefix.size());
        Device& d = state_[name];
        if (startsWith(what, 0, "reconnect try ")) {
            d.tryNumber = static_cast<unsigned>(std::strtoul(what.c_str() + 14, nullptr, 10));
            d.tryError.clear();
            shown = line;
            return d.tryNumber <= 1;  // the first says that tries begin; the state shows the rest
        }
        if (startsWith(what, 0, "reconnected on try ")) {
            d.tryNumber = 0;
            d.lastError.clear();
            break;
        }
        if (d.tryNumber > 0 && (what == "init failed" || startsWith(what, 0, "not started: "))) {
            shown = name + ": reconnect try " + std::to_string(d.tryNumber) + ": " +
                    (d.tryError.empty() ? what : d.tryError);
            d.tryNumber = 0;
            return true;
        }
        break;
    }
    shown = line;
    return true;
}

bool LogFold::pass(const std::string& line, std::string& shown) {
    if (startsWith(line, 0, kHost)) return hostLine(line, shown);
    for (const std::string& name : devices_) {
        std::size_t text = afterName(line, name);
        if (text == std::string::npos) continue;
        Device& d = state_[name];
        if (startsWith(line, text, kError)) {
            d.lastError = withoutSource(line.substr(text + kError.size()));
            if (d.tryNumber > 0) d.tryError = d.lastError;
        }
        if (d.tryNumber > 0) return false;
        break;
    }
    shown = line;
    return true;
}

std::string LogFold::lastError(const std::string& device) const {
    auto found = state_.find(device);
    return found == state_.end() ? std::string() : found->second.lastError;
}

}  // namespace host
