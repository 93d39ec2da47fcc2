#include "DeviceSet.h"

#include "HostLog.h"
#include "OptionHints.h"
#include "PortCheck.h"

namespace host {

DeviceSet::DeviceSet(const HostConfig& config, PluginSet& plugins, SharedStorages& storages, ChangeListener& listener,
                     int realtime)
    : config_(config) {
    for (const DeviceConfig& d : config.devices) {
        runners_.emplace_back(
            new DeviceRunner(d, config.fileName, plugins.of(d), storages, config.logger, listener, &runFlag_));
        runners_.back()->setRealtime(realtime);
        runners_.back()->setClaimsController(d.library == "quorlix");
    }
}

DeviceSet::~DeviceSet() {
    cancel();
    if (starter_.joinable()) starter_.join();
}

bool DeviceSet::connectAll(bool keepGoing) {
    for (std::size_t i = 0; i < runners_.size() && keepRunning(); ++i) {
        connecting_ = i;
        if (config_.devices[i].library == "quorlix")
            for (const std::string& note : defaultNotes(config_.fileName, config_.devices[i])) hostMessage(note);
        DeviceRunner& runner = *runners_[i];
        if (keepGoing && !runner.portThere()) {
            // Its options are looked at now, not once the adapter is plugged in.
            if (config_.devices[i].library == "quorlix") {
                const std::vector<std::string> unknown = unknownWandOptions(config_.fileName, config_.devices[i]);
                for (const std::string& hint : unknown) hostMessage(hint);
                if (!unknown.empty()) {
                    faulty_ = true;
                    return false;
                }
            }
            runner.waitForPortLater();
            continue;
        }
        if (runner.connect()) continue;
        runner.explainFailure();
        if (runner.configurationFault()) {
            faulty_ = true;
            return false;
        }
        if (!keepGoing) return false;
        runner.willRetry();
    }
    return true;
}

void DeviceSet::startAll() {
    for (auto& r : runners_) r->start();
}

void DeviceSet::startInBackground(bool keepGoing, std::function<void()> started) {
    start_ = Start::underway;
    starterDone_ = false;
    starter_ = std::thread([this, keepGoing, started] {
        const bool connected = connectAll(keepGoing);
        // A stop meanwhile starts nothing more; the devices connected so far end with the runners.
        if (connected && keepRunning()) startAll();
        const Start state = connected || !keepRunning() ? Start::started : faulty_ ? Start::faulty : Start::failed;
        // Ready is said before the main loop, seeing `started`, says anything more.
        if (state == Start::started && keepRunning() && started) started();
        start_ = state;
        starterDone_ = true;
    });
}

std::vector<std::string> DeviceSet::stopAll() {
    cancel();
    std::vector<std::string> stuck;
    auto deadline = std::chrono::steady_clock::now() + kStopWithin;
    const std::string late = " within " + std::to_string(kStopWithin.count()) + " ms: it is busy inside the plug-in";
    if (starter_.joinable()) {
        while (!starterDone_.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!starterDone_.load()) {
            starter_.detach();
            stuck.push_back(runners_[connecting_.load()]->name() + ": did not start or stop" + late);
            return stuck;
        }
        starter_.join();
    }
    for (auto& r : runners_) {
        if (!r->joinBefore(deadline)) stuck.push_back(r->name() + ": did not stop" + late);
    }
    return stuck;
}

void DeviceSet::cancel() {
    __atomic_store_n(&runFlag_, 0, __ATOMIC_RELAXED);
}

std::string DeviceSet::summary() const {
    std::uint64_t records = 0, changes = 0, errors = 0, late = 0;
    for (const auto& r : runners_) {
        records += r->stats().records.load();
        changes += r->stats().changes.load();
        errors += r->stats().errors.load();
        late += r->stats().dropped.load();
    }
    std::string text = std::to_string(records) + " records received, " + std::to_string(changes) +
                       " changes published, " + std::to_string(errors) + " errors";
    // Only where it happened: a storage lock busy for longer than its bound.
    if (late > 0) text += ", " + std::to_string(late) + " changes published late (a storage was busy)";
    return text;
}

bool DeviceSet::faulty() const {
    if (start_.load() == Start::faulty) return true;
    for (const auto& r : runners_)
        if (r->stoppedOverConfiguration()) return true;
    return false;
}

std::string DeviceSet::statusLine() const {
    std::string line;
    for (const auto& r : runners_) {
        const int state = r->stats().state.load();
        std::string label = stateName(state);
        if (state == DeviceStats::waiting) label = "waiting for " + r->port();
        else if (state == DeviceStats::reconnecting && r->stats().reconnectTry.load() > 0)
            label += " (try " + std::to_string(r->stats().reconnectTry.load()) + ")";
        line += (line.empty() ? "" : "; ") + r->name() + ": " + label;
    }
    return line;
}

}  // namespace host
