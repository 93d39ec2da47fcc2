#include "SequenceGaps.h"

namespace host {

std::uint32_t SequenceGaps::see(std::uint32_t sequence) {
    const std::uint32_t ahead = sequence - next_;
    std::uint32_t skipped = 0;
    if (started_ && ahead <= kLargestLoss) skipped = ahead;
    lost_ += skipped;
    started_ = true;
    next_ = sequence + 1;
    return skipped;
}

}  // namespace host
