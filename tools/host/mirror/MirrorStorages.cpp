#include "MirrorStorages.h"

#include "StorageLock.h"

#include <algorithm>
#include <cstring>

namespace host {

MirrorStorages::Result MirrorStorages::write(ChangeEvent::Kind kind, std::uint32_t entry, const std::string& device,
                                             const void* bytes, bool lost) {
    if (entry < 1 || entry > QUORLIX_SHM_ENTRIES) return Result::unchanged;
    quorlix_shm& shm = storages_.region();
    const bool controller = kind == ChangeEvent::Kind::controller;
    quorlix_shm_storage& storage = controller ? shm.controllers : shm.trackers;
    void* record = controller ? static_cast<void*>(&shm.con[entry - 1]) : static_cast<void*>(&shm.tra[entry - 1]);
    const std::size_t size = controller ? sizeof(quorlix_con_data) : sizeof(quorlix_tra_data);
    char owner[QUORLIX_SHM_OWNER_SIZE] = {};
    std::strncpy(owner, device.c_str(), sizeof owner - 1);

    StorageLock lock(storage);
    if (!lock.held()) return Result::busy;
    const bool claimed = storage.count >= entry;
    const bool sameOwner = std::memcmp(storage.owner[entry - 1], owner, sizeof owner) == 0;
    const std::uint32_t bit = 1u << (entry - 1);
    const bool sameMark = ((storage.lost & bit) != 0) == lost;
    if (claimed && sameOwner && sameMark && std::memcmp(record, bytes, size) == 0) return Result::unchanged;
    storage.lost = lost ? storage.lost | bit : storage.lost & ~bit;
    std::memcpy(record, bytes, size);
    std::memcpy(storage.owner[entry - 1], owner, sizeof owner);
    storage.count = std::max(storage.count, entry);
    ++storage.changes[entry - 1];
    return Result::written;
}

bool MirrorStorages::raiseCounts(std::uint32_t controllers, std::uint32_t trackers) {
    quorlix_shm& shm = storages_.region();
    const std::pair<quorlix_shm_storage*, std::uint32_t> raises[] = {{&shm.controllers, controllers},
                                                                      {&shm.trackers, trackers}};
    bool all = true;
    for (const auto& raise : raises) {
        StorageLock lock(*raise.first);
        if (!lock.held()) {
            all = false;
            continue;
        }
        raise.first->count = std::max(raise.first->count, std::min<std::uint32_t>(raise.second, QUORLIX_SHM_ENTRIES));
    }
    return all;
}

bool MirrorStorages::setStale(bool stale) {
    quorlix_shm& shm = storages_.region();
    // Under both locks, so that a reader sees it together with the records.
    StorageLock con(shm.controllers);
    StorageLock tra(shm.trackers);
    __atomic_store_n(&shm.stale, stale ? 1u : 0u, __ATOMIC_RELEASE);
    return con.held() && tra.held();
}

bool MirrorStorages::stale() const { return __atomic_load_n(&storages_.region().stale, __ATOMIC_ACQUIRE) != 0; }

}  // namespace host
