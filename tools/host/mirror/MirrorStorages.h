// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "MirrorTarget.h"
#include "SharedStorages.h"

#include <cstdint>

namespace host {

// Writes what a mirror follows into this node's view, as a host does for its
// devices: each record with the entry's owner, lost mark and change counter,
// and the count of entries in use. One thread writes.
class MirrorStorages : public MirrorTarget {
public:
    explicit MirrorStorages(SharedStorages& storages) : storages_(storages) {}

    bool write(const MirrorMessage& record) override;
    void setCounts(std::uint32_t controllers, std::uint32_t trackers) override;
    void releaseAll(std::int64_t nowUs) override;
    void setStale(bool stale) override;
    bool stale() const override;

private:
    SharedStorages& storages_;
    // Bit n - 1: entry n written since it was last cleared.
    std::uint32_t controllersUsed_ = 0;
    std::uint32_t trackersUsed_ = 0;
};

}  // namespace host
