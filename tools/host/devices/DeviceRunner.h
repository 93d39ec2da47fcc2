// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include "ChangeEvent.h"
#include "DeviceStats.h"
#include "HostConfig.h"
#include "LineLoss.h"
#include "OptionBlock.h"
#include "PluginLibrary.h"
#include "PluginLogger.h"
#include "SharedStorages.h"

#include "plugin/InitInfo.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class CBase;

namespace host {

// How a device whose line keeps failing is brought back.
struct ReconnectPolicy {
    unsigned failuresBeforeReconnect = 3;
    std::chrono::milliseconds firstDelay{500};
    std::chrono::milliseconds maxDelay{5000};
    // A port that is not there (an adapter not plugged in) is looked for this
    // often, without a try: records flow soon after it appears.
    std::chrono::milliseconds portLook{250};
    // ...and said in the log first after this long, then at doubling intervals.
    std::chrono::seconds firstWaitNote{10};
};

// The plug-in's read time-out per byte: a call that returns sooner received a record.
constexpr std::chrono::milliseconds kReadTimeout{100};

// One configured device: created, initialised and read on a thread of its own.
class DeviceRunner {
public:
    // `config` (of the file `fileName`) outlives the runner.
    DeviceRunner(const DeviceConfig& config, const std::string& fileName, PluginLibrary& library,
                 SharedStorages& storages, const LoggerSettings& logger, ChangeListener& listener,
                 std::int32_t* runFlag, ReconnectPolicy policy = {});
    ~DeviceRunner();
    DeviceRunner(const DeviceRunner&) = delete;
    DeviceRunner& operator=(const DeviceRunner&) = delete;

    // Its thread under SCHED_FIFO at `priority` (0: normal scheduling); before start().
    void setRealtime(int priority) { realtime_ = priority; }
    // A device that always claims a controller entry (the wand) is not
    // started when none is left; others learn it when they publish.
    void setClaimsController(bool claims) { claimsController_ = claims; }
    // createDev and init on the calling thread; false (reported) when init failed.
    bool connect();
    // Reads on a new thread; a device that is not connected first tries again.
    void start();
    // Waits for the thread, which ends within a read time-out of the
    // keep-running flag being cleared, after stop and deleteDev.
    void join();
    // The same, but no later than `deadline`: false when the thread is still
    // busy then (blocked inside the plug-in); it is then left to itself.
    bool joinBefore(std::chrono::steady_clock::time_point deadline);

    const std::string& name() const { return name_; }
    // The port its options name, "" when they name none.
    const std::string& port() const { return port_; }
    const DeviceStats& stats() const { return stats_; }
    // After connect() failed: true when the configuration is at fault, not
    // the line nor the storages: a wand option line it did not recognise,
    // or options refused while its port opens as the wand opens it. Trying
    // again would find the same.
    bool configurationFault() const;
    // After connect() failed: what the host can add to the device's own
    // messages (option lines nothing recognised, why the port would not open).
    void explainFailure() const;
    // A failed device tries again on its thread: it is reconnecting, not failed.
    void willRetry() { stats_.state = DeviceStats::reconnecting; }
    // Its thread ended over a configuration fault found on a later try.
    bool stoppedOverConfiguration() const { return configFault_.load(); }
    // False while its port names nothing (an adapter not plugged in).
    bool portThere() const;
    // Not started for now: waits on its thread for its port to appear; said once here.
    void waitForPortLater();
    // The option lines as last handed to the device, with what it recognised.
    const OptionList& options() const { return options_.list(); }

private:
    bool keepRunning() const;
    void run();
    void disconnect();
    bool reconnect();
    // Until the port is there (true) or a stop (false), saying so sparingly.
    bool waitForPort();
    bool sleepWhileRunning(std::chrono::milliseconds duration);
    // True when a controller's buttons changed: only a key record does that.
    bool publish(std::uint8_t* masks);
    void lineLost();
    // After a failed call: true (reported) when the storages, not the line, failed.
    bool storageFailed();

    const DeviceConfig& config_;
    std::string fileName_;
    std::string name_;
    std::string port_;
    PluginLibrary& library_;
    SharedStorages& storages_;
    ChangeListener& listener_;
    LineLoss lineLoss_;
    std::int32_t* runFlag_;
    ReconnectPolicy policy_;
    OptionBlock options_;
    LoggerPtr logger_;
    std::unique_ptr<DeviceViews> views_;
    InitInfo info_{};
    CBase* device_ = nullptr;
    bool connected_ = false;
    bool storageFailed_ = false;  // no try again can mend it
    bool claimsController_ = false;
    bool waitSaid_ = false;  // the log has said that it waits for its port
    enum class Failure { none, storage, device, init };
    Failure failure_ = Failure::none;  // why the last connect() failed
    std::atomic<bool> configFault_{false};
    bool everConnected_ = false;
    int realtime_ = 0;
    std::uint32_t buttons_[QUORLIX_SHM_ENTRIES] = {};  // as last published, per controller entry
    std::uint8_t due_[8] = {};  // change masks of entries whose lock was busy: published with the next call
    DeviceStats stats_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace host
