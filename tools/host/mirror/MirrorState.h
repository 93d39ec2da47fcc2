// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "MirrorDatagram.h"
#include "MirrorTarget.h"
#include "SequenceGaps.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace host {

// What a mirror has seen, readable from any thread.
struct MirrorCounts {
    std::atomic<std::uint64_t> records{0};     // record messages read
    std::atomic<std::uint64_t> written{0};     // records written (the others repeated what was there)
    std::atomic<std::uint64_t> keyframes{0};   // keyframes applied
    std::atomic<std::uint64_t> incomplete{0};  // keyframes not applied: one of their records is missing
    std::atomic<std::uint64_t> lost{0};        // datagrams missing from the followed sender's sequence
    std::atomic<std::uint64_t> bad{0};         // refused whole: not ours, wrong size, type tags or values
    std::atomic<std::uint64_t> foreign{0};     // from a host other than --from: dropped
    std::atomic<std::uint64_t> others{0};      // messages of senders not followed: not written
};

// The state of a mirror: it follows one sender, the first whose keyframe
// came whole (another takes over once that one is gone), and leaves this node's storages exactly as that sender's were
// at its keyframe. Between keyframes the followed sender's records are
// written as they come; other senders write nothing until a whole keyframe
// of theirs takes over. A followed sender that falls silent, or says
// goodbye, has everything released and marked lost, as a lost line does.
class MirrorState {
public:
    using Clock = std::chrono::steady_clock;
    using Note = std::function<void(const std::string&)>;
    static constexpr std::chrono::seconds kSilenceBeforeRelease{3};
    // Another sender's whole keyframe takes over once the followed sender
    // has said goodbye, been released, or missed a keyframe (sent each second).
    static constexpr std::chrono::milliseconds kTakeOverAfter{1500};
    // A host publishing beside the followed one is said at most this often.
    static constexpr std::chrono::seconds kOthersNotedEvery{10};
    // Senders whose sequence and latest records are kept (one is followed).
    static constexpr std::size_t kSendersKept = 8;

    // The target starts stale: the caller marks it so.
    MirrorState(MirrorTarget& target, MirrorCounts& counts, Note note);

    // One datagram from `sender` ("ADDRESS:PORT"). "" when it was read, else
    // what was wrong with it: then nothing of it was used.
    std::string receive(const std::string& sender, const void* data, std::size_t size, Clock::time_point now);
    // Releases what the followed sender left once it has been silent for
    // too long; call it at least every few hundred milliseconds.
    void tick(Clock::time_point now);

    // The sender followed, "" before the first whole keyframe.
    const std::string& followed() const { return followed_; }

private:
    struct Sender {
        SequenceGaps gaps;
        // Its latest records, enough for one keyframe.
        std::deque<MirrorMessage> records;
        Clock::time_point lastHeard;
    };
    Sender& senderOf(const std::string& sender, Clock::time_point now);
    void keyframe(const std::string& name, Sender& sender, const MirrorMessage& end, Clock::time_point now);
    bool mayTakeOver(Clock::time_point now) const;
    void write(const MirrorMessage& record);
    void releaseAll(const std::string& why);

    MirrorTarget& target_;
    MirrorCounts& counts_;
    Note note_;
    std::map<std::string, Sender> senders_;
    std::string followed_;
    bool released_ = false;  // the followed sender's entries, since it went quiet
    Clock::time_point notedOtherAt_{};
    std::vector<MirrorMessage> messages_;
};

}  // namespace host
