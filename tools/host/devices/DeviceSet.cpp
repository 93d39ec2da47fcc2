#include "DeviceSet.h"

#include "HostLog.h"
#include "OptionHints.h"
#include "PortCheck.h"

namespace host {

namespace {

// What the host can add to a device's own messages when its init failed.
void explainFailure(const DeviceRunner& runner, const DeviceConfig& config, const std::string& fileName) {
    if (config.library == "quorlix")
        for (const std::string& hint : optionHints(fileName, config, runner.options())) hostMessage(hint);
    if (!runner.port().empty())
        for (const std::string& hint : portHints(runner.port())) hostMessage(runner.name() + ": " + hint);
}

}  // namespace

DeviceSet::DeviceSet(const HostConfig& config, PluginSet& plugins, SharedStorages& storages, ChangeListener& listener,
                     int realtime)
    : config_(config) {
    for (const DeviceConfig& d : config.devices) {
        runners_.emplace_back(new DeviceRunner(d, plugins.of(d), storages, config.logger, listener, &runFlag_));
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
        if (runners_[i]->connect()) continue;
        explainFailure(*runners_[i], config_.devices[i], config_.fileName);
        if (!keepGoing) return false;
    }
    return true;
}

void DeviceSet::startAll() {
    for (auto& r : runners_) r->start();
}

void DeviceSet::startInBackground(bool keepGoing) {
    start_ = Start::underway;
    starterDone_ = false;
    starter_ = std::thread([this, keepGoing] {
        const bool connected = connectAll(keepGoing);
        // A stop meanwhile starts nothing more; the devices connected so far end with the runners.
        if (connected && keepRunning()) startAll();
        start_ = connected || !keepRunning() ? Start::started : Start::failed;
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

}  // namespace host
