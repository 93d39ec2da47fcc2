// outputs/osc/: every change over OSC to render nodes and other receivers, with keyframes.
#pragma once

#include "ChangeEvent.h"
#include "QueuedOutput.h"
#include "HostConfig.h"
#include "HostOptions.h"
#include "OscTargets.h"
#include "SharedStorages.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace host {

struct OscSettings {
    struct Receiver {
        std::string url;                // a liblo URL: osc.udp://HOST:PORT/
        std::string origin = "--osc";   // where it was given, for messages
    };
    std::vector<Receiver> receivers;
    int ttl = 0;                        // multicast hops; 0: the system's (1)
    OscResolve resolve;                 // looks up names; getaddrinfo when empty
};

// Publishes every change over OSC from a thread of its own, once a second a
// keyframe of every entry in use, and a goodbye when it stops. The device
// threads only queue records; no receiver can hold this thread up.
class OscPublisher : public QueuedOutput {
public:
    static constexpr std::size_t kQueueCapacity = 1024;
    static constexpr std::chrono::milliseconds kKeyframeEvery{1000};

    // Null with `error` set when a URL or the TTL is not usable.
    static std::unique_ptr<OscPublisher> create(const OscSettings& settings, SharedStorages& storages,
                                                std::string& error);
    ~OscPublisher() override;

    std::uint64_t bundles() const { return bundles_.load(std::memory_order_relaxed); }
    std::uint64_t keyframes() const { return keyframes_.load(std::memory_order_relaxed); }
    std::uint64_t sendFailures() const { return targets_.failures(); }
    std::uint64_t queueDrops() const { return dropped(); }
    const OscTargets& targets() const { return targets_; }
    // One line for the view and the summary.
    std::string status() const;

private:
    OscPublisher(SharedStorages& storages, OscResolve resolve);
    void run() override;
    void send(const PublishedRecord& record);
    void sendKeyframe();
    // Mirrors release what this host published at once, not after its silence.
    void sendGoodbye();

    SharedStorages& storages_;
    OscTargets targets_;
    std::uint32_t sequence_ = 0;
    std::atomic<std::uint64_t> bundles_{0};
    std::atomic<std::uint64_t> keyframes_{0};
};

// The publisher to the receivers of the command line, else to those of the
// configuration; null when there are none, or with `error` set.
std::unique_ptr<OscPublisher> makeOscPublisher(const HostOptions& options, const HostConfig& config,
                                               SharedStorages& storages, std::string& error);

}  // namespace host
