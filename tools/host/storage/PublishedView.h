// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include "ViewObject.h"
#include "quorlix/shm.h"

#include <cstdint>
#include <memory>
#include <string>

namespace host {

// What readers see: every entry with its record, owner and lost mark under a
// sequence counter, and a header with the counts, the host's heartbeat and a
// generation. The host only ever writes it, without a lock that a reader
// could hold. Each entry has one writer at a time (the caller's storage lock
// or the mirror's one thread); the header words are written whole.
class PublishedView {
public:
    enum class Kind { controller, tracker };

    // See ViewObject::open.
    static std::unique_ptr<PublishedView> open(const std::string& object, const std::string& group,
                                               std::string& error);
    ~PublishedView();
    PublishedView(const PublishedView&) = delete;
    PublishedView& operator=(const PublishedView&) = delete;

    // Entry n (1..32): the record, rewritten (its change counter moves).
    void writeController(std::uint32_t n, const quorlix_con_data& record, bool lost);
    void writeTracker(std::uint32_t n, const quorlix_tra_data& record, bool lost);
    // Entries from..to-1 (0-based) belong to `owner`.
    void setOwner(Kind kind, std::uint32_t from, std::uint32_t to, const std::string& owner);
    // Entry n empty: no record, owner or mark, its change counter at 0.
    void clearEntry(Kind kind, std::uint32_t n);
    void setCount(Kind kind, std::uint32_t count);
    std::uint32_t count(Kind kind) const;
    // Entry n as readers see it; false when no whole copy was had (it was
    // being rewritten all the while).
    bool read(std::uint32_t n, quorlix_shm_controller& out) const;
    bool read(std::uint32_t n, quorlix_shm_tracker& out) const;
    // The same, all zero where no whole copy was had.
    quorlix_shm_controller controller(std::uint32_t n) const;
    quorlix_shm_tracker tracker(std::uint32_t n) const;

    void setStale(bool stale);
    bool stale() const;
    // Tells readers the host still runs: at least once a second (see
    // QUORLIX_SHM_HEARTBEAT_MS), from a loop that wakes anyway.
    void renewHeartbeat();
    // Readers learn that the host has stopped.
    void markStopped();
    // Marks it stopped and gives up the name.
    void release();

    const std::string& name() const { return object_->name(); }
    const quorlix_shm& shm() const { return *shm_; }

private:
    PublishedView() = default;
    void initialise();

    std::unique_ptr<ViewObject> object_;
    quorlix_shm* shm_ = nullptr;
    // What the host last wrote, so that a write is one copy of whole entries.
    quorlix_shm_controller controllers_[QUORLIX_SHM_ENTRIES] = {};
    quorlix_shm_tracker trackers_[QUORLIX_SHM_ENTRIES] = {};
};

}  // namespace host
