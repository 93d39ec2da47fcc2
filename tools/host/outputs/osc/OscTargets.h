// outputs/osc/: every change over OSC to render nodes and other receivers, with keyframes.
#pragma once

#include <lo/lo.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace host {

// The receivers the host publishes to: liblo UDP addresses, unicast or
// multicast. A send that fails is counted and remembered, never fatal.
class OscTargets {
public:
    OscTargets() = default;
    ~OscTargets();
    OscTargets(const OscTargets&) = delete;
    OscTargets& operator=(const OscTargets&) = delete;

    // False with `error` ("URL: what is wrong") when it is not an osc.udp URL with a
    // host and a port. `ttl` (1..255) is for multicast groups; 0 keeps the
    // system's (1: the local network).
    bool add(const std::string& url, int ttl, std::string& error);

    // Sends to every target; the number of targets it failed for.
    std::size_t send(lo_bundle bundle);

    std::size_t size() const { return targets_.size(); }
    std::uint64_t failures() const { return failures_.load(std::memory_order_relaxed); }
    // "osc.udp://render1:7770/: Network is unreachable", or "" when none failed.
    std::string lastFailure() const;
    // The URLs as given, joined with ", ".
    std::string names() const;

private:
    struct Target {
        std::string url;
        lo_address address = nullptr;
    };
    std::vector<Target> targets_;
    std::atomic<std::uint64_t> failures_{0};
    mutable std::mutex failureMutex_;
    std::string lastFailure_;
};

}  // namespace host
