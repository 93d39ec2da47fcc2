#include "DeviceRunner.h"

#include "HostLog.h"
#include "OptionHints.h"
#include "PortCheck.h"
#include "RealtimeThread.h"
#include "ThreadReadMeter.h"

#include "plugin/CBase.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <iterator>

#include <unistd.h>

namespace host {

namespace {

std::int64_t wallMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool entryChanged(const std::uint8_t* mask, std::uint32_t n) {
    return (mask[3 - (n - 1) / 8] >> ((n - 1) % 8)) & 1;
}

void markEntry(std::uint8_t* mask, std::uint32_t n) { mask[3 - (n - 1) / 8] |= 1u << ((n - 1) % 8); }

// What a storage lock's failure means, for messages.
std::string lockTrouble(int result) {
    if (result == ETIMEDOUT) return "a storage was busy for more than a second";
    if (result == ENOTRECOVERABLE) return "a storage lock cannot be used any more";
    return std::string("a storage lock failed: ") + std::strerror(result);
}

std::string secondsText(std::chrono::steady_clock::duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()) + " s";
}

}  // namespace

DeviceRunner::DeviceRunner(const DeviceConfig& config, const std::string& fileName, PluginLibrary& library,
                           SharedStorages& storages, const LoggerSettings& logger, ChangeListener& listener,
                           std::int32_t* runFlag, ReconnectPolicy policy)
    : config_(config),
      fileName_(fileName),
      name_(config.name),
      port_(portDevicePath(configuredPort(config))),
      library_(library),
      storages_(storages),
      listener_(listener),
      lineLoss_(storages, listener),
      runFlag_(runFlag),
      policy_(policy),
      options_(config),
      logger_(makePluginLogger(logger, config.name)),
      views_(storages.makeViews(config.name)) {
    info_.traStorage = &views_->tra;
    info_.conStorage = &views_->con;
    info_.runFlag = runFlag_;
}

DeviceRunner::~DeviceRunner() {
    join();
    disconnect();
}

bool DeviceRunner::keepRunning() const { return __atomic_load_n(runFlag_, __ATOMIC_RELAXED) != 0; }

bool DeviceRunner::connect() {
    failure_ = Failure::device;
    device_ = library_.createDev(options_.fresh(), logger_.get());
    if (device_ == nullptr) {
        hostMessage(name_ + ": createDev gave no device");
        return false;
    }
    failure_ = Failure::storage;
    if (int trouble = storages_.beginClaim(*views_)) {
        hostMessage(name_ + ": not started: " + lockTrouble(trouble));
        storageFailed_ = trouble == ENOTRECOVERABLE;
        if (stats_.state != DeviceStats::reconnecting || storageFailed_) stats_.state = DeviceStats::failed;
        disconnect();
        return false;
    }
    std::int32_t result = device_->init(&info_);
    const int unclaimed = storages_.endClaim(*views_);
    std::cout.flush();
    if (unclaimed != 0) hostMessage(name_ + ": its entries are not noted: " + lockTrouble(unclaimed));
    storageFailed_ = unclaimed == ENOTRECOVERABLE;
    if (result == 1 && claimsController_ && SharedStorages::controllersFull(*views_)) {
        // Not a line that may come back: trying again would find the same.
        hostMessage(name_ + ": not started: no controller entry is left (the devices before it use all " +
                    std::to_string(QUORLIX_SHM_ENTRIES) + ")");
        storageFailed_ = true;
        stats_.state = DeviceStats::failed;
        disconnect();
        return false;
    }
    connected_ = result == 1 && unclaimed == 0;
    if (result != 1) failure_ = Failure::init;
    if (!connected_) {
        hostMessage(name_ + ": init failed");
        // While tries go on the device is reconnecting, not failed.
        if (stats_.state != DeviceStats::reconnecting) stats_.state = DeviceStats::failed;
        disconnect();
        return false;
    }
    stats_.reconnectTry = 0;
    stats_.state = DeviceStats::running;
    failure_ = Failure::none;
    everConnected_ = true;
    waitSaid_ = false;
    return true;
}

bool DeviceRunner::configurationFault() const {
    if (failure_ != Failure::init || config_.library != "quorlix") return false;
    if (!optionHints(fileName_, config_, options()).empty()) return true;
    return !port_.empty() && portOpens(port_);
}

void DeviceRunner::explainFailure() const {
    if (config_.library == "quorlix")
        for (const std::string& hint : optionHints(fileName_, config_, options())) hostMessage(hint);
    if (!port_.empty())
        for (const std::string& hint : portHints(port_)) hostMessage(name_ + ": " + hint);
}

bool DeviceRunner::portThere() const { return port_.empty() || ::access(port_.c_str(), F_OK) == 0; }

void DeviceRunner::waitForPortLater() {
    stats_.state = DeviceStats::waiting;
    hostMessage(name_ + ": waiting for " + port_ + ": it is not there (is the adapter plugged in?); the device starts when it appears");
    waitSaid_ = true;
}

bool DeviceRunner::waitForPort() {
    using Clock = std::chrono::steady_clock;
    stats_.state = DeviceStats::waiting;
    if (!waitSaid_) hostMessage(name_ + ": " + port_ + " is gone; waiting for it to come back");
    waitSaid_ = true;
    const Clock::time_point since = Clock::now();
    Clock::duration gap = policy_.firstWaitNote;
    Clock::time_point note = since + gap;
    while (keepRunning()) {
        if (portThere()) {
            hostMessage(name_ + ": " + port_ + " is there (after " + secondsText(Clock::now() - since) + ")");
            return true;
        }
        if (Clock::now() >= note) {
            hostMessage(name_ + ": still waiting for " + port_ + " (" + secondsText(Clock::now() - since) + ")");
            gap = std::min<Clock::duration>(gap * 2, std::chrono::hours(1));
            note = Clock::now() + gap;
        }
        if (!sleepWhileRunning(policy_.portLook)) return false;
    }
    return false;
}

void DeviceRunner::disconnect() {
    if (device_ == nullptr) return;
    device_->stop();
    library_.deleteDev(device_);
    std::cout.flush();
    device_ = nullptr;
    connected_ = false;
}

void DeviceRunner::start() {
    finished_ = false;
    thread_ = std::thread([this] {
        if (realtime_ > 0) runThisThreadRealtime(realtime_);
        run();
        finished_ = true;
    });
}

void DeviceRunner::join() {
    if (thread_.joinable()) thread_.join();
}

bool DeviceRunner::joinBefore(std::chrono::steady_clock::time_point deadline) {
    if (!thread_.joinable()) return true;
    while (!finished_.load()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            thread_.detach();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
    return true;
}

bool DeviceRunner::sleepWhileRunning(std::chrono::milliseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    while (keepRunning()) {
        auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
    }
    return false;
}

bool DeviceRunner::reconnect() {
    // A device waiting for its port stays "waiting" throughout.
    if (stats_.state != DeviceStats::waiting) stats_.state = DeviceStats::reconnecting;
    auto delay = policy_.firstDelay;
    for (unsigned attempt = 1; keepRunning(); ++attempt) {
        lineLoss_.retry();
        if (!portThere()) {
            // An adapter that is away is looked for, not tried: the log stays quiet.
            if (!waitForPort()) return false;
            stats_.state = DeviceStats::reconnecting;
            delay = policy_.firstDelay;
        } else {
            stats_.state = DeviceStats::reconnecting;
            stats_.reconnectTry = attempt;
            stats_.nextTryNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   (std::chrono::steady_clock::now() + delay).time_since_epoch())
                                   .count();
            hostMessage(name_ + ": reconnect try " + std::to_string(attempt) + " in " +
                        std::to_string(delay.count() / 1000) + "." + std::to_string(delay.count() % 1000 / 100) + " s");
            if (!sleepWhileRunning(delay)) return false;
        }
        ++stats_.reconnects;
        const bool first = !everConnected_;
        if (connect()) {
            lineLoss_.forget();
            hostMessage(name_ + (first ? ": started on try " : ": reconnected on try ") + std::to_string(attempt));
            return true;
        }
        if (storageFailed_ || storageFailed()) return false;
        if (configurationFault()) {
            explainFailure();
            hostMessage(name_ + ": stopped: its configuration is faulty (see above)");
            stats_.state = DeviceStats::failed;
            configFault_ = true;
            return false;
        }
        ++stats_.errors;
        delay = std::min(delay * 2, policy_.maxDelay);
    }
    return false;
}

bool DeviceRunner::publish(std::uint8_t* masks) {
    ChangeEvent event;
    event.device = &name_;
    bool any = false;
    bool buttonsChanged = false;
    std::uint8_t wasDue[sizeof due_];
    std::memcpy(wasDue, due_, sizeof due_);
    for (std::size_t i = 0; i < sizeof due_; ++i) masks[i] |= due_[i];
    std::fill(std::begin(due_), std::end(due_), std::uint8_t{0});
    // A change whose lock stayed busy is not lost: the entry goes out with the next call.
    auto take = [&](int result, std::size_t kind, std::uint32_t n) {
        if (result == 0) return true;
        if (!entryChanged(wasDue + kind, n)) ++stats_.dropped;  // once per entry held back
        markEntry(due_ + kind, n);
        return false;
    };
    for (std::uint32_t n = 1; n <= QUORLIX_SHM_ENTRIES && keepRunning(); ++n) {
        if (entryChanged(masks + 4, n) && take(storages_.takeController(n, event.con), 4, n)) {
            std::uint32_t buttons = 0;
            std::memcpy(&buttons, event.con.buttons, sizeof buttons);
            buttonsChanged = buttonsChanged || buttons != buttons_[n - 1];
            buttons_[n - 1] = buttons;
            event.kind = ChangeEvent::Kind::controller;
            event.entry = n;
            listener_.changed(event);
            ++stats_.changes;
            any = true;
        }
        if (entryChanged(masks, n) && take(storages_.takeTracker(n, event.tra), 0, n)) {
            event.kind = ChangeEvent::Kind::tracker;
            event.entry = n;
            listener_.changed(event);
            ++stats_.changes;
            any = true;
        }
    }
    if (any) stats_.lastChangeUs = wallMicroseconds();
    return buttonsChanged;
}

void DeviceRunner::lineLost() {
    unsigned released = lineLoss_.release(name_, *views_);
    if (released > 0)
        hostMessage(name_ + ": line lost; " + (released == 1 ? "its controller shows" : "its controllers show") +
                    " nothing pressed until it is back");
}

bool DeviceRunner::storageFailed() {
    std::string failure = storages_.failure();
    // A device that found no controller entry fails each publication.
    if (failure.empty() && SharedStorages::controllersFull(*views_))
        failure = "no controller entry is left (the devices before it use all " +
                  std::to_string(QUORLIX_SHM_ENTRIES) + ")";
    if (failure.empty()) return false;
    hostMessage(name_ + ": stopped: " + failure);
    storageFailed_ = true;
    stats_.state = DeviceStats::failed;
    return true;
}

void DeviceRunner::run() {
    if (storageFailed_) return;
    if (!connected_ && !reconnect()) {
        disconnect();
        if (!storageFailed_) stats_.state = DeviceStats::stopped;
        return;
    }
    // Bytes are counted from the system's account of this thread's reads,
    // asked at most once a second: a record costs no system call of its own.
    ThreadReadMeter meter;
    std::uint64_t notLine = meter.now();  // what the thread read besides the line
    unsigned failures = 0;
    while (keepRunning()) {
        std::uint8_t masks[8] = {};
        auto started = std::chrono::steady_clock::now();
        std::int32_t result = device_->recvData(masks, 0);
        auto ended = std::chrono::steady_clock::now();
        ++stats_.calls;
        bool buttonsChanged = publish(masks);
        stats_.bytes = meter.every(ended) - notLine;
        if (!keepRunning()) break;
        if (result == 1) {
            failures = 0;
            // Only a record's terminator ends a successful call before a read
            // time-out could have. A record whose last byte comes after that
            // still ends a call, later: its buttons tell, unless it repeats
            // the last ones.
            if (ended - started < kReadTimeout || buttonsChanged) ++stats_.records;
            continue;
        }
        ++stats_.errors;
        // A storage that failed for good is no lost line: reconnecting would not mend it.
        if (storageFailed()) {
            disconnect();
            return;
        }
        if (++failures < policy_.failuresBeforeReconnect) continue;
        hostMessage(name_ + ": " + std::to_string(failures) + " reads in a row failed; the line seems gone");
        const std::uint64_t before = meter.now();
        disconnect();
        lineLost();
        std::fill(std::begin(buttons_), std::end(buttons_), 0u);  // as the lost line left them, and a new device starts
        failures = 0;
        const bool back = reconnect();
        notLine += meter.now() - before;
        if (!back) break;
    }
    stats_.bytes = meter.now() - notLine;
    disconnect();
    if (!storageFailed_) stats_.state = DeviceStats::stopped;
}

}  // namespace host
