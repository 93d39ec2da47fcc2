#include "ServiceManager.h"

#include <algorithm>
#include <cstdint>

#include <systemd/sd-daemon.h>

namespace host {

namespace {

// A status is one line to systemd.
std::string oneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

}  // namespace

ServiceManager::ServiceManager() {
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0)
        pingEvery_ = std::chrono::milliseconds(std::max<std::uint64_t>(usec / 2000, 1));
}

void ServiceManager::ready(const std::string& status) {
    std::lock_guard<std::mutex> lock(lock_);
    status_ = oneLine(status);
    sd_notify(0, ("READY=1\nSTATUS=" + status_).c_str());
}

void ServiceManager::status(const std::string& status) {
    std::lock_guard<std::mutex> lock(lock_);
    const std::string line = oneLine(status);
    if (line == status_) return;
    status_ = line;
    sd_notify(0, ("STATUS=" + status_).c_str());
}

void ServiceManager::alive() {
    if (pingEvery_.count() > 0) sd_notify(0, "WATCHDOG=1");
}

void ServiceManager::stopping() { sd_notify(0, "STOPPING=1"); }

}  // namespace host
