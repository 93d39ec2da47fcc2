#include "OscPublisher.h"

#include "OscRecordBundle.h"
#include "PublishedSnapshot.h"

#include <cstring>

namespace host {

OscPublisher::OscPublisher(SharedStorages& storages, OscResolve resolve)
    : QueuedOutput(kQueueCapacity), storages_(storages), targets_(std::move(resolve)) {}

std::unique_ptr<OscPublisher> OscPublisher::create(const OscSettings& settings, SharedStorages& storages,
                                                   std::string& error) {
    if (settings.ttl < 0 || settings.ttl > 255) {
        error = "--osc-ttl " + std::to_string(settings.ttl) + ": a multicast TTL is 1 to 255";
        return nullptr;
    }
    std::unique_ptr<OscPublisher> publisher(new OscPublisher(storages, settings.resolve));
    for (const OscSettings::Receiver& r : settings.receivers) {
        if (!publisher->targets_.add(r.url, settings.ttl, error)) {
            error = r.origin + " " + error;
            return nullptr;
        }
    }
    return publisher;
}

OscPublisher::~OscPublisher() { stop(std::chrono::steady_clock::now()); }

void OscPublisher::run() {
    std::vector<PublishedRecord> batch;
    auto nextKeyframe = std::chrono::steady_clock::now();
    for (;;) {
        queue().takeAll(batch, nextKeyframe);
        for (const PublishedRecord& r : batch) send(r);
        if (queue().closed()) {
            queue().takeAll(batch, std::chrono::steady_clock::now());
            for (const PublishedRecord& r : batch) send(r);
            sendGoodbye();
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
    const PublishedView& view = storages_.view();
    KeyframeEnd end;
    end.controllers = publishedSnapshot(view, PublishedView::Kind::controller, records,
                                                       end.controllersLost);
    end.trackers = publishedSnapshot(view, PublishedView::Kind::tracker, records, end.trackersLost);
    for (const PublishedRecord& r : records) send(r);
    OscBundle bundle(LO_TT_IMMEDIATE);
    fillKeyframeEnd(bundle, end, sequence_++);
    targets_.send(bundle.get());
    bundles_.fetch_add(1, std::memory_order_relaxed);
    keyframes_.fetch_add(1, std::memory_order_relaxed);
}

void OscPublisher::sendGoodbye() {
    OscBundle bundle(LO_TT_IMMEDIATE);
    fillGoodbye(bundle, sequence_++);
    targets_.send(bundle.get());
    bundles_.fetch_add(1, std::memory_order_relaxed);
}

std::string OscPublisher::status() const {
    return "OSC: " + std::to_string(bundles()) + " bundles, " + std::to_string(queueDrops()) +
           " changes dropped (queue full); " + targets_.perTarget();
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
