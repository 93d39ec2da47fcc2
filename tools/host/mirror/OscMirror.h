// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "MirrorStorages.h"
#include "SequenceGaps.h"

#include <lo/lo.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace host {

// What a mirror has seen, readable from any thread.
struct MirrorCounts {
    std::atomic<std::uint64_t> records{0};     // record messages accepted
    std::atomic<std::uint64_t> written{0};     // of those, written (the others repeated what was there)
    std::atomic<std::uint64_t> keyframes{0};
    std::atomic<std::uint64_t> lost{0};        // datagrams missing from the sequence
    std::atomic<std::uint64_t> bad{0};         // wrong size, address or type tags: dropped
    std::atomic<std::uint64_t> foreign{0};     // from a host other than --from: dropped
};

// Receives what a host publishes (OSC over UDP, through liblo) and writes it
// into this node's storages. Only well-formed record and keyframe messages
// are written; everything else is counted and dropped.
class OscMirror {
public:
    static constexpr std::chrono::seconds kSilenceBeforeStale{3};
    using Note = std::function<void(const std::string&)>;

    // `listen`: a port ("7770") or a liblo URL (osc.udp://:7770/, or a
    // multicast group osc.udp://239.255.42.1:7770/); `from`: a host name or
    // address to accept datagrams from, "" for any. Null with `error` set.
    static std::unique_ptr<OscMirror> create(const std::string& listen, const std::string& from,
                                             MirrorStorages& storages, Note note, std::string& error);
    ~OscMirror();
    OscMirror(const OscMirror&) = delete;
    OscMirror& operator=(const OscMirror&) = delete;

    // Receives and writes for up to `timeoutMs`, then marks the storages
    // stale if the sender has been silent for too long.
    void poll(int timeoutMs);

    const MirrorCounts& counts() const { return counts_; }
    bool stale() const { return storages_.stale(); }
    // Where it listens, as a liblo URL.
    std::string url() const;
    // One line for the view and the summary.
    std::string status() const;

private:
    OscMirror(MirrorStorages& storages, Note note);
    static int onRecord(const char* path, const char* types, lo_arg** argv, int argc, lo_message msg, void* self);
    static int onKeyframe(const char* path, const char* types, lo_arg** argv, int argc, lo_message msg, void* self);
    static int onDecoded(const char* path, const char* types, lo_arg** argv, int argc, lo_message msg, void* self);
    static int onOther(const char* path, const char* types, lo_arg** argv, int argc, lo_message msg, void* self);
    static void onError(int number, const char* message, const char* where);
    // False (counted) for a datagram from a host other than --from.
    bool accept(lo_message msg);
    void heard(std::uint32_t sequence);

    MirrorStorages& storages_;
    Note note_;
    lo_server server_ = nullptr;
    std::string boundUrl_;  // where it listens when liblo cannot say (one address)
    std::set<std::string> from_;  // numeric addresses; empty: any
    std::string fromName_;
    std::string sender_;          // the address of the last accepted datagram
    SequenceGaps gaps_;
    MirrorCounts counts_;
    std::chrono::steady_clock::time_point lastHeard_;
    bool everHeard_ = false;
    std::uint64_t refusedNoted_ = 0;
    std::chrono::steady_clock::time_point refusedNotedAt_{};
};

}  // namespace host
