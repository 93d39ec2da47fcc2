#include "OscPublisher.h"

#include "OscRecordBundle.h"
#include "StorageLock.h"

#include <cstring>

namespace host {

namespace {

// Copies a storage's entries in use, their owners, records and lost marks
// under its lock; the count, or 0 when the lock was not free.
template <typename Record>
std::uint32_t snapshot(quorlix_shm_storage& storage, const Record* records, ChangeEvent::Kind kind,
                       std::vector<PublishedRecord>& out, std::uint32_t& lost) {
    StorageLock lock(storage);
    if (!lock.held()) return 0;
    const std::uint32_t count = storage.count < QUORLIX_SHM_ENTRIES ? storage.count : QUORLIX_SHM_ENTRIES;
    lost = storage.lost;
    for (std::uint32_t n = 1; n <= count; ++n) {
        PublishedRecord r;
        r.kind = kind;
        r.entry = n;
        r.lost = (lost >> (n - 1)) & 1u;
        std::memcpy(r.device, storage.owner[n - 1], sizeof r.device - 1);
        if (kind == ChangeEvent::Kind::controller) std::memcpy(&r.con, &records[n - 1], sizeof r.con);
        else std::memcpy(&r.tra, &records[n - 1], sizeof r.tra);
        out.push_back(r);
    }
    return count;
}

}  // namespace

OscPublisher::OscPublisher(SharedStorages& storages) : storages_(storages) {}

std::unique_ptr<OscPublisher> OscPublisher::create(const OscSettings& settings, SharedStorages& storages,
                                                   std::string& error) {
    if (settings.ttl < 0 || settings.ttl > 255) {
        error = "--osc-ttl " + std::to_string(settings.ttl) + ": a multicast TTL is 1 to 255";
        return nullptr;
    }
    std::unique_ptr<OscPublisher> publisher(new OscPublisher(storages));
    for (const OscSettings::Receiver& r : settings.receivers) {
        if (!publisher->targets_.add(r.url, settings.ttl, error)) {
            error = r.origin + " " + error;
            return nullptr;
        }
    }
    return publisher;
}

OscPublisher::~OscPublisher() { stop(); }

void OscPublisher::changed(const ChangeEvent& event) { queue_.push(PublishedRecord::from(event)); }

void OscPublisher::start() {
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void OscPublisher::stop() {
    queue_.close();
    if (thread_.joinable()) thread_.join();
}

void OscPublisher::run() {
    std::vector<PublishedRecord> batch;
    auto nextKeyframe = std::chrono::steady_clock::now();
    for (;;) {
        queue_.takeAll(batch, nextKeyframe);
        for (const PublishedRecord& r : batch) send(r);
        if (queue_.closed()) {
            queue_.takeAll(batch, std::chrono::steady_clock::now());
            for (const PublishedRecord& r : batch) send(r);
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextKeyframe) {
            // After what was queued before it, so that no older change follows it.
            sendKeyframe();
            nextKeyframe = now + kKeyframeEvery;
        }
    }
}

void OscPublisher::send(const PublishedRecord& record) {
    OscBundle bundle(timeTagOf(record));
    fillRecordBundle(bundle, record, sequence_++);
    targets_.send(bundle.get());
    bundles_.fetch_add(1, std::memory_order_relaxed);
}

void OscPublisher::sendKeyframe() {
    std::vector<PublishedRecord> records;
    quorlix_shm& shm = storages_.region();
    KeyframeEnd end;
    end.controllers = snapshot(shm.controllers, shm.con, ChangeEvent::Kind::controller, records, end.controllersLost);
    end.trackers = snapshot(shm.trackers, shm.tra, ChangeEvent::Kind::tracker, records, end.trackersLost);
    for (const PublishedRecord& r : records) send(r);
    OscBundle bundle(LO_TT_IMMEDIATE);
    fillKeyframeEnd(bundle, end, sequence_++);
    targets_.send(bundle.get());
    bundles_.fetch_add(1, std::memory_order_relaxed);
    keyframes_.fetch_add(1, std::memory_order_relaxed);
}

std::string OscPublisher::status() const {
    std::string text = "OSC to " + targets_.names() + ": " + std::to_string(bundles()) + " bundles, " +
                       std::to_string(sendFailures()) + " send failures, " + std::to_string(queueDrops()) +
                       " dropped (queue full)";
    const std::string failure = lastFailure();
    if (!failure.empty()) text += "; last failure " + failure;
    return text;
}

std::unique_ptr<OscPublisher> makeOscPublisher(const HostOptions& options, const HostConfig& config,
                                               SharedStorages& storages, std::string& error) {
    OscSettings settings;
    for (const std::string& url : options.osc) settings.receivers.push_back({url, "--osc"});
    if (settings.receivers.empty())
        for (const OscLine& l : config.osc)
            settings.receivers.push_back({l.url, config.fileName + ":" + std::to_string(l.line) + ": osc"});
    if (settings.receivers.empty()) return nullptr;
    settings.ttl = options.oscTtl > 0 ? options.oscTtl : config.oscTtl;
    return OscPublisher::create(settings, storages, error);
}

}  // namespace host
