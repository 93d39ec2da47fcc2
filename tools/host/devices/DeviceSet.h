// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include "ChangeEvent.h"
#include "DeviceRunner.h"
#include "HostConfig.h"
#include "PluginSet.h"
#include "SharedStorages.h"

#include <chrono>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <atomic>
#include <vector>

namespace host {

// How long the devices get to return after a stop; within the two seconds a
// user or a service manager waits.
constexpr std::chrono::milliseconds kStopWithin{1500};

// The devices of a run, one runner each, sharing one keep-running flag.
class DeviceSet {
public:
    // Each device's thread under SCHED_FIFO at `realtime` (0: normal scheduling).
    DeviceSet(const HostConfig& config, PluginSet& plugins, SharedStorages& storages, ChangeListener& listener,
              int realtime);
    ~DeviceSet();
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;

    // One after another, so each device finds the entries of those before
    // it; a failed init is explained with what the host can add. False when
    // one failed, unless `keepGoing` and it failed over its line: then it
    // tries again on its thread, and one whose port is not there waits for
    // it without a try. A device that refused its options is a faulty
    // configuration, whatever `keepGoing` says.
    bool connectAll(bool keepGoing);
    void startAll();
    // connectAll, then startAll, on a thread of their own: the caller stays
    // free to take a stop meanwhile. `started` is called on that thread once
    // every device runs or waits for its line.
    enum class Start { underway, started, failed, faulty };
    void startInBackground(bool keepGoing, std::function<void()> started = {});
    Start startState() const { return start_.load(); }
    // A device refused its configuration: at the start, or on a later try
    // (a wand whose port appeared only then).
    bool faulty() const;
    // Every device returns within a read time-out, unless it is stuck
    // inside its plug-in: such a device is left behind and named in the
    // lines returned, so that the host still stops.
    std::vector<std::string> stopAll();
    // Clears the keep-running flag of devices that never started.
    void cancel();
    // Ends every runner (after stopAll).
    void clear() { runners_.clear(); }

    // "N records received, N changes published, N errors" (and, where it
    // happened, how many changes went out late).
    std::string summary() const;
    // Each device's state in one line: "wand: running; left: waiting for /dev/ttyUSB1".
    std::string statusLine() const;
    const std::vector<std::unique_ptr<DeviceRunner>>& runners() const { return runners_; }

private:
    bool keepRunning() const { return __atomic_load_n(&runFlag_, __ATOMIC_RELAXED) != 0; }

    const HostConfig& config_;
    std::int32_t runFlag_ = 1;
    std::vector<std::unique_ptr<DeviceRunner>> runners_;
    std::atomic<Start> start_{Start::started};
    std::atomic<bool> starterDone_{true};
    bool faulty_ = false;  // a device refused its options
    std::atomic<std::size_t> connecting_{0};  // the device the starter is at
    std::thread starter_;
};

}  // namespace host
