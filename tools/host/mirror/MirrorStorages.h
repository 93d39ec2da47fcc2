// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "ChangeEvent.h"
#include "SharedStorages.h"

#include <cstdint>
#include <string>

namespace host {

// Writes records received from a publishing host into this node's view, as
// that host does for its devices: each with the entry's owner, lost mark and
// change counter, and the count of entries in use. One thread writes.
class MirrorStorages {
public:
    explicit MirrorStorages(SharedStorages& storages) : storages_(storages) {}

    enum class Result { written, unchanged };
    // `bytes` is a whole record of `kind`, entry 1..32; `lost` marks it as
    // written for a device whose line is lost. A record the entry already
    // holds (a keyframe repeating it) is not written again.
    Result write(ChangeEvent::Kind kind, std::uint32_t entry, const std::string& device, const void* bytes,
                 bool lost);
    // Raises the counts to the sender's.
    void raiseCounts(std::uint32_t controllers, std::uint32_t trackers);
    // The header's stale word: 1 while the sender is silent.
    void setStale(bool stale);
    bool stale() const;

private:
    SharedStorages& storages_;
};

}  // namespace host
