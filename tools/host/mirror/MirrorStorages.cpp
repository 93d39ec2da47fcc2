#include "MirrorStorages.h"

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>

namespace host {

namespace {

using Kind = PublishedView::Kind;

void clearBeyond(PublishedView& view, Kind kind, std::uint32_t count, std::uint32_t& used) {
    for (std::uint32_t n = count + 1; n <= QUORLIX_SHM_ENTRIES; ++n) {
        if ((used & (1u << (n - 1))) == 0) continue;
        view.clearEntry(kind, n);
        used &= ~(1u << (n - 1));
    }
}

}  // namespace

bool MirrorStorages::write(const MirrorMessage& m) {
    PublishedView& view = storages_.view();
    const bool controller = m.kind == MirrorMessage::Kind::controller;
    const Kind kind = controller ? Kind::controller : Kind::tracker;
    const std::uint32_t entry = m.entry;
    const quorlix_shm_controller con = controller ? view.controller(entry) : quorlix_shm_controller{};
    const quorlix_shm_tracker tra = controller ? quorlix_shm_tracker{} : view.tracker(entry);
    const quorlix_shm_entry_head& head = controller ? con.head : tra.head;
    const bool same = controller ? std::memcmp(&con.record, &m.record.con, sizeof con.record) == 0
                                 : std::memcmp(&tra.record, &m.record.tra, sizeof tra.record) == 0;
    const bool sameOwner = std::memcmp(head.owner, m.device, sizeof m.device) == 0;
    (controller ? controllersUsed_ : trackersUsed_) |= 1u << (entry - 1);
    if (view.count(kind) >= entry && sameOwner && (head.lost != 0) == m.lost && same) return false;
    if (!sameOwner) view.setOwner(kind, entry - 1, entry, m.device);
    if (controller)
        view.writeController(entry, m.record.con, m.lost);
    else
        view.writeTracker(entry, m.record.tra, m.lost);
    view.setCount(kind, std::max(view.count(kind), entry));
    return true;
}

void MirrorStorages::setCounts(std::uint32_t controllers, std::uint32_t trackers) {
    PublishedView& view = storages_.view();
    // Readers go by the count: lower it before the entries beyond it empty.
    view.setCount(Kind::controller, controllers);
    view.setCount(Kind::tracker, trackers);
    clearBeyond(view, Kind::controller, controllers, controllersUsed_);
    clearBeyond(view, Kind::tracker, trackers, trackersUsed_);
}

void MirrorStorages::releaseAll(std::int64_t nowUs) {
    PublishedView& view = storages_.view();
    const auto stamp = [nowUs](std::int32_t& sec, std::int32_t& usec) {
        sec = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(nowUs / 1000000)));
        usec = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(nowUs % 1000000)));
    };
    for (std::uint32_t n = 1; n <= view.count(Kind::controller); ++n) {
        controllersUsed_ |= 1u << (n - 1);
        quorlix_con_data record = view.controller(n).record;
        std::memset(record.buttons, 0, sizeof record.buttons);
        std::memset(record.valuators, 0, sizeof record.valuators);
        stamp(record.time_sec, record.time_usec);
        view.writeController(n, record, true);
    }
    for (std::uint32_t n = 1; n <= view.count(Kind::tracker); ++n) {
        trackersUsed_ |= 1u << (n - 1);
        view.writeTracker(n, view.tracker(n).record, true);
    }
}

void MirrorStorages::setStale(bool stale) { storages_.view().setStale(stale); }

bool MirrorStorages::stale() const { return storages_.view().stale(); }

}  // namespace host
