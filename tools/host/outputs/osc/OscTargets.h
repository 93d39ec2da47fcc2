// outputs/osc/: every change over OSC to render nodes and other receivers, with keyframes.
#pragma once

#include <lo/lo.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sys/socket.h>

namespace host {

// Where a name points: 0 and `to` filled, or an EAI_ code.
struct OscLookup {
    sockaddr_storage address{};
    socklen_t size = 0;
};
using OscResolve = std::function<int(const std::string& host, const std::string& port, OscLookup& to)>;

// The receivers the host publishes to: UDP, unicast or multicast. Each is on
// its own: its name is looked up once, on a thread of its own (and again in
// the background while that fails; a numeric address needs no lookup); its datagrams leave from a socket of its
// own without waiting, so that a receiver behind a slow link, or one whose
// name does not resolve, loses its own datagrams (counted) and never delays
// another receiver or the host.
class OscTargets {
public:
    // A lookup that failed is tried again after this, doubling up to a minute.
    static constexpr int kLookupRetrySeconds = 5;

    // `resolve` looks up names (getaddrinfo when empty).
    explicit OscTargets(OscResolve resolve = {});
    ~OscTargets();
    OscTargets(const OscTargets&) = delete;
    OscTargets& operator=(const OscTargets&) = delete;

    // False with `error` ("URL: what is wrong") when it is not an osc.udp URL
    // with a host and a port. `ttl` (1..255) is for multicast groups; 0 keeps
    // the system's (1: the local network). The lookup starts here.
    bool add(const std::string& url, int ttl, std::string& error);

    // Sends to every target that can take it now; the number it could not.
    std::size_t send(lo_bundle bundle);

    std::size_t size() const { return targets_.size(); }
    // Datagrams not sent, to all targets together.
    std::uint64_t failures() const { return failures_.load(std::memory_order_relaxed); }
    // "URL: N sent" for each target, with ", M lost (the last reason)" for
    // one that lost any; joined with "; ".
    std::string perTarget() const;
    // "URL: N sent, M lost (reason)" for the targets that lost any, or "".
    std::string losses() const;

private:
    struct Lookup;
    struct Target {
        std::string url;
        int ttl = 0;
        std::shared_ptr<Lookup> lookup;
        int fd = -1;  // once the lookup is done
        OscLookup address;
        std::atomic<std::uint64_t> sent{0};
        std::atomic<std::uint64_t> lost{0};
        std::string why;  // of its last loss; under failureMutex_
    };
    std::string describe(bool lossesOnly) const;
    bool ready(Target& t);
    void failed(Target& t, const std::string& why);

    OscResolve resolve_;
    std::vector<std::unique_ptr<Target>> targets_;
    std::atomic<std::uint64_t> failures_{0};
    mutable std::mutex failureMutex_;
};

}  // namespace host
