// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include <cstdint>

namespace host {

// Datagrams lost between one sender's sequence numbers (which wrap at 2^32).
// A number at or behind the last one (a late or repeated datagram, or a
// sender that started again) starts counting afresh, and so does a jump
// further than a host sends in seconds: neither is a loss.
class SequenceGaps {
public:
    static constexpr std::uint32_t kLargestLoss = 10000;

    // How many numbers were skipped before `sequence`.
    std::uint32_t see(std::uint32_t sequence);
    std::uint64_t lost() const { return lost_; }

private:
    bool started_ = false;
    std::uint32_t next_ = 0;
    std::uint64_t lost_ = 0;
};

}  // namespace host
