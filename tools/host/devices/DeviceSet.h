// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include "ChangeEvent.h"
#include "DeviceRunner.h"
#include "HostConfig.h"
#include "PluginSet.h"
#include "SharedStorages.h"

#include <chrono>
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
    // one failed, unless `keepGoing`.
    bool connectAll(bool keepGoing);
    void startAll();
    // connectAll, then startAll, on a thread of their own: the caller stays
    // free to take a stop meanwhile.
    enum class Start { underway, started, failed };
    void startInBackground(bool keepGoing);
    Start startState() const { return start_.load(); }
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
    const std::vector<std::unique_ptr<DeviceRunner>>& runners() const { return runners_; }

private:
    bool keepRunning() const { return __atomic_load_n(&runFlag_, __ATOMIC_RELAXED) != 0; }

    const HostConfig& config_;
    std::int32_t runFlag_ = 1;
    std::vector<std::unique_ptr<DeviceRunner>> runners_;
    std::atomic<Start> start_{Start::started};
    std::atomic<bool> starterDone_{true};
    std::atomic<std::size_t> connecting_{0};  // the device the starter is at
    std::thread starter_;
};

}  // namespace host
