// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "MirrorDatagram.h"

#include <cstdint>

namespace host {

// Where a mirror writes what it follows: this node's storages, or, for the
// fuzzer, memory that remembers every write.
class MirrorTarget {
public:
    virtual ~MirrorTarget() = default;
    // The record of `record` with its owner and lost mark, the count raised
    // to its entry; false when the entry held all that already.
    virtual bool write(const MirrorMessage& record) = 0;
    // Exactly these counts: the entries beyond them are cleared.
    virtual void setCounts(std::uint32_t controllers, std::uint32_t trackers) = 0;
    // Every entry in use released as a lost line releases it: nothing
    // pressed and every valuator 0, stamped `nowUs`; tracker poses stay. All
    // of them marked lost.
    virtual void releaseAll(std::int64_t nowUs) = 0;
    // The header's stale word: 1 while the sender is not followed.
    virtual void setStale(bool stale) = 0;
    virtual bool stale() const = 0;
};

}  // namespace host
