// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "ChangeEvent.h"
#include "MirrorTarget.h"
#include "PublishedView.h"

#include <string>

namespace host {

// Writes through to the node's storages and tells a listener (the VRPN
// server) of each record that changed there, as a host's devices tell the
// change bus: render programs on the node may ask their own machine.
class MirrorChanges : public MirrorTarget {
public:
    MirrorChanges(MirrorTarget& storages, const PublishedView& view, ChangeListener& listener)
        : storages_(storages), view_(view), listener_(listener) {}

    bool write(const MirrorMessage& record) override;
    void setCounts(std::uint32_t controllers, std::uint32_t trackers) override {
        storages_.setCounts(controllers, trackers);
    }
    // Every entry released, told as the released records they now are.
    void releaseAll(std::int64_t nowUs) override;
    void setStale(bool stale) override { storages_.setStale(stale); }
    bool stale() const override { return storages_.stale(); }

private:
    MirrorTarget& storages_;
    const PublishedView& view_;
    ChangeListener& listener_;
};

}  // namespace host
