// system/: the host's own dealings with the operating system: processes, signals, log, text.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace host {

// What systemd is told of a host or mirror it started (Type=notify): when it
// is ready, how its devices are doing (systemctl status), and that its main
// loop still turns (WatchdogSec=). Outside a service every call does nothing.
class ServiceManager {
public:
    ServiceManager();
    ServiceManager(const ServiceManager&) = delete;
    ServiceManager& operator=(const ServiceManager&) = delete;

    // The storages exist and every device runs or waits for its line; from any thread.
    void ready(const std::string& status);
    // Sent only when it differs from the last.
    void status(const std::string& status);
    // From the main loop only: a watchdog ping, where the unit asks for one.
    void alive();
    void stopping();
    // How often the main loop must turn for the watchdog: half its time-out,
    // or zero without a watchdog.
    std::chrono::milliseconds pingEvery() const { return pingEvery_; }

private:
    std::chrono::milliseconds pingEvery_{0};
    std::mutex lock_;  // ready() comes from the starter thread, status() from the main loop
    std::string status_;
};

}  // namespace host
