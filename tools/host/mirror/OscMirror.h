// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "MirrorState.h"
#include "MirrorTarget.h"

#include <lo/lo.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>
#include <string>

namespace host {

// Receives what a host publishes (OSC over UDP; liblo binds and joins the
// group, and reads each message) and keeps this node's storages as that
// host's (see MirrorState). A datagram is used whole or not at all; what is
// refused is counted and said in the log at most every ten seconds.
class OscMirror {
public:
    static constexpr std::chrono::seconds kNotesEvery{10};
    using Note = std::function<void(const std::string&)>;

    // `listen`: a port ("7770") or a liblo URL (osc.udp://:7770/, or a
    // multicast group osc.udp://239.255.42.1:7770/); `from`: a host name or
    // address to accept datagrams from, "" for any. Null with `error` set;
    // `wrong`, where given, set when `listen` itself is wrong (not when a
    // network, a name or a port in use is the reason: those may pass).
    static std::unique_ptr<OscMirror> create(const std::string& listen, const std::string& from,
                                             MirrorTarget& storages, Note note, std::string& error,
                                             bool* wrong = nullptr);
    ~OscMirror();
    OscMirror(const OscMirror&) = delete;
    OscMirror& operator=(const OscMirror&) = delete;

    // Receives and writes for up to `timeoutMs`, then releases what a
    // sender left that has been silent for too long.
    void poll(int timeoutMs);

    const MirrorCounts& counts() const { return counts_; }
    bool stale() const { return storages_.stale(); }
    const std::string& followed() const { return state_.followed(); }
    // Where it listens, as a liblo URL.
    std::string url() const;
    // The same for people: "UDP port 7770 on every network of this node".
    const std::string& where() const { return where_; }
    // One line for the view and the summary.
    std::string status() const;

private:
    OscMirror(MirrorTarget& storages, Note note);
    static void onError(int number, const char* message, const char* where);
    // One datagram read from the socket.
    void received(const void* data, std::size_t size, const std::string& address, const std::string& port,
                  std::chrono::steady_clock::time_point now);
    void noteTrouble(std::chrono::steady_clock::time_point now);

    MirrorTarget& storages_;
    Note note_;
    MirrorCounts counts_;
    MirrorState state_;
    lo_server server_ = nullptr;
    int socket_ = -1;
    std::string boundUrl_;  // where it listens when liblo cannot say (one address)
    std::string where_;
    std::set<std::string> from_;  // numeric addresses; empty: any
    std::string fromName_;
    std::vector<unsigned char> buffer_;
    // What the log was last told, and when.
    std::uint64_t lostNoted_ = 0, badNoted_ = 0, foreignNoted_ = 0;
    std::chrono::steady_clock::time_point notedAt_{};
    std::string lastBad_, lastForeign_;  // "SOURCE: why", "SOURCE"
};

}  // namespace host
