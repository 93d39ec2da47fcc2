#include "MirrorStorages.h"

#include <algorithm>
#include <cstring>

namespace host {

MirrorStorages::Result MirrorStorages::write(ChangeEvent::Kind kind, std::uint32_t entry, const std::string& device,
                                             const void* bytes, bool lost) {
    if (entry < 1 || entry > QUORLIX_SHM_ENTRIES) return Result::unchanged;
    PublishedView& view = storages_.view();
    const bool controller = kind == ChangeEvent::Kind::controller;
    const auto viewKind = controller ? PublishedView::Kind::controller : PublishedView::Kind::tracker;
    char owner[QUORLIX_SHM_OWNER_SIZE] = {};
    std::strncpy(owner, device.c_str(), sizeof owner - 1);

    const quorlix_shm_controller con = controller ? view.controller(entry) : quorlix_shm_controller{};
    const quorlix_shm_tracker tra = controller ? quorlix_shm_tracker{} : view.tracker(entry);
    const quorlix_shm_entry_head& head = controller ? con.head : tra.head;
    const bool same = controller ? std::memcmp(&con.record, bytes, sizeof con.record) == 0
                                 : std::memcmp(&tra.record, bytes, sizeof tra.record) == 0;
    const bool sameOwner = std::memcmp(head.owner, owner, sizeof owner) == 0;
    if (view.count(viewKind) >= entry && sameOwner && (head.lost != 0) == lost && same) return Result::unchanged;
    if (!sameOwner) view.setOwner(viewKind, entry - 1, entry, owner);
    if (controller) {
        quorlix_con_data record;
        std::memcpy(&record, bytes, sizeof record);
        view.writeController(entry, record, lost);
    } else {
        quorlix_tra_data record;
        std::memcpy(&record, bytes, sizeof record);
        view.writeTracker(entry, record, lost);
    }
    view.setCount(viewKind, std::max(view.count(viewKind), entry));
    return Result::written;
}

void MirrorStorages::raiseCounts(std::uint32_t controllers, std::uint32_t trackers) {
    PublishedView& view = storages_.view();
    view.setCount(PublishedView::Kind::controller, std::max(view.count(PublishedView::Kind::controller), controllers));
    view.setCount(PublishedView::Kind::tracker, std::max(view.count(PublishedView::Kind::tracker), trackers));
}

void MirrorStorages::setStale(bool stale) { storages_.view().setStale(stale); }

bool MirrorStorages::stale() const { return storages_.view().stale(); }

}  // namespace host
