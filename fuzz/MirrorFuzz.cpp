// Any datagrams reaching a render node's mirror, from three senders, read
// through the mirror's reader and state into memory that remembers every
// write: a datagram that is refused changes nothing at all, no entry is ever
// in use beyond the counts, and every written record is whole (entry 1..32,
// an owner).
//
// Input: datagrams, each as one byte (bits 0-1: the sender, 0..2; bits 2-7:
// milliseconds x 64 that pass before it, so silences are met), two bytes of
// length (big-endian), then that many bytes.
#include "MirrorState.h"
#include "MirrorTarget.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Stops the run with the input kept: the invariant did not hold.
void require(bool holds) {
    if (!holds) std::abort();
}

class MemoryTarget : public host::MirrorTarget {
public:
    struct Entry {
        bool used = false;
        bool lost = false;
        char owner[QUORLIX_SHM_OWNER_SIZE] = {};
    };

    bool write(const host::MirrorMessage& m) override {
        require(m.isRecord() && m.entry >= 1 && m.entry <= QUORLIX_SHM_ENTRIES);
        require(m.device[0] != '\0' && std::memchr(m.device, '\0', sizeof m.device) != nullptr);
        const bool controller = m.kind == host::MirrorMessage::Kind::controller;
        Entry& e = (controller ? controllers : trackers)[m.entry - 1];
        e.used = true;
        e.lost = m.lost;
        std::memcpy(e.owner, m.device, sizeof e.owner);
        std::uint32_t& count = controller ? controllerCount : trackerCount;
        if (count < m.entry) count = m.entry;
        ++changes;
        return true;
    }
    void setCounts(std::uint32_t c, std::uint32_t t) override {
        require(c <= QUORLIX_SHM_ENTRIES && t <= QUORLIX_SHM_ENTRIES);
        controllerCount = c;
        trackerCount = t;
        for (std::uint32_t n = c; n < QUORLIX_SHM_ENTRIES; ++n) controllers[n] = Entry{};
        for (std::uint32_t n = t; n < QUORLIX_SHM_ENTRIES; ++n) trackers[n] = Entry{};
        ++changes;
    }
    void releaseAll(std::int64_t) override {
        for (std::uint32_t n = 0; n < controllerCount; ++n) controllers[n].lost = true;
        for (std::uint32_t n = 0; n < trackerCount; ++n) trackers[n].lost = true;
        ++changes;
    }
    void setStale(bool s) override {
        if (s != staleWord) ++changes;
        staleWord = s;
    }
    bool stale() const override { return staleWord; }

    bool nothingBeyondTheCounts() const {
        for (std::uint32_t n = controllerCount; n < QUORLIX_SHM_ENTRIES; ++n)
            if (controllers[n].used) return false;
        for (std::uint32_t n = trackerCount; n < QUORLIX_SHM_ENTRIES; ++n)
            if (trackers[n].used) return false;
        return true;
    }

    std::array<Entry, QUORLIX_SHM_ENTRIES> controllers{}, trackers{};
    std::uint32_t controllerCount = 0, trackerCount = 0;
    bool staleWord = true;
    std::uint64_t changes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string kSenders[] = {"10.0.0.1:7000", "10.0.0.1:7001", "10.0.0.2:7000"};
    MemoryTarget target;
    host::MirrorCounts counts;
    host::MirrorState state(target, counts, [](const std::string&) {});
    auto now = host::MirrorState::Clock::time_point{} + std::chrono::hours(1);
    for (std::size_t at = 0; at + 3 <= size;) {
        const std::uint8_t head = data[at];
        const std::size_t length = (std::size_t{data[at + 1]} << 8) | data[at + 2];
        at += 3;
        const std::size_t taken = std::min(length, size - at);
        now += std::chrono::milliseconds(64 * (head >> 2));
        state.tick(now);

        const std::uint64_t changesBefore = target.changes, recordsBefore = counts.records,
                            keyframesBefore = counts.keyframes, writtenBefore = counts.written;
        const std::string wrong = state.receive(kSenders[(head & 3) % 3], data + at, taken, now);
        if (!wrong.empty()) {
            require(target.changes == changesBefore && counts.records == recordsBefore &&
                    counts.keyframes == keyframesBefore && counts.written == writtenBefore);
        }
        require(target.nothingBeyondTheCounts());
        at += taken;
    }
    return 0;
}
