#include "PublishedView.h"

#include <cstddef>
#include <cstring>

#include <unistd.h>

namespace host {

static_assert(sizeof(quorlix_shm_controller) % 8 == 0 && sizeof(quorlix_shm_tracker) % 8 == 0 &&
                  offsetof(quorlix_shm, controllers) == 128 && sizeof(quorlix_shm) % 8 == 0,
              "the layout is the same for 32- and 64-bit readers");

namespace {

// An entry is written under its sequence counter: odd while the words
// change, so a reader that saw it odd or changed copies again. The words are
// stored with release, so none shows before the odd counter does.
std::uint32_t beginWrite(std::uint32_t* entry) {
    const std::uint32_t seq = __atomic_load_n(&entry[0], __ATOMIC_RELAXED);
    const std::uint32_t writing = (seq & 1u) != 0 ? seq + 2 : seq + 1;  // odd even after a writer that died
    __atomic_store_n(&entry[0], writing, __ATOMIC_RELAXED);
    return writing;
}

void endWrite(std::uint32_t* entry, std::uint32_t* mine, std::uint32_t writing) {
    __atomic_store_n(&entry[0], writing + 1, __ATOMIC_RELEASE);
    mine[0] = writing + 1;
}

// The whole entry as `mine` holds it.
template <typename Entry>
void publishEntry(Entry& shared, Entry& mine) {
    auto* to = reinterpret_cast<std::uint32_t*>(&shared);
    auto* from = reinterpret_cast<std::uint32_t*>(&mine);
    const std::uint32_t writing = beginWrite(to);
    for (std::size_t i = 1; i < sizeof(Entry) / 4; ++i) __atomic_store_n(&to[i], from[i], __ATOMIC_RELEASE);
    endWrite(to, from, writing);
}

void setOwnerText(quorlix_shm_entry_head& head, const std::string& owner) {
    std::memset(head.owner, 0, sizeof head.owner);
    std::strncpy(head.owner, owner.c_str(), sizeof head.owner - 1);
}

void store(std::uint32_t& word, std::uint32_t value) { __atomic_store_n(&word, value, __ATOMIC_RELEASE); }

}  // namespace

std::unique_ptr<PublishedView> PublishedView::open(const std::string& object, const std::string& group,
                                                   std::string& error) {
    std::unique_ptr<PublishedView> view(new PublishedView());
    view->object_ = ViewObject::open(object, sizeof(quorlix_shm), QUORLIX_SHM_MAGIC, QUORLIX_SHM_VERSION, group, error);
    if (!view->object_) return nullptr;
    view->shm_ = static_cast<quorlix_shm*>(view->object_->memory());
    view->initialise();
    return view;
}

void PublishedView::initialise() {
    quorlix_shm& r = *shm_;
    std::uint32_t generation = static_cast<std::uint32_t>(quorlix_shm_now_ms() ^ static_cast<std::uint32_t>(getpid()));
    if (object_->reused()) {
        // Readers of the predecessor see it stop, then a new generation,
        // with no entry in use, before anything of the old entries goes.
        store(r.running, 0);
        generation = __atomic_load_n(&r.generation, __ATOMIC_ACQUIRE) + 1;
    }
    store(r.generation, generation != 0 ? generation : 1);
    store(r.controller_count, 0);
    store(r.tracker_count, 0);
    if (object_->reused()) {
        for (std::uint32_t n = 1; n <= QUORLIX_SHM_ENTRIES; ++n) {
            clearEntry(Kind::controller, n);
            clearEntry(Kind::tracker, n);
        }
    }
    store(r.stale, 0);
    store(r.features, 0);
    store(r.size, sizeof r);
    store(r.controller_offset, offsetof(quorlix_shm, controllers));
    store(r.controller_stride, sizeof(quorlix_shm_controller));
    store(r.tracker_offset, offsetof(quorlix_shm, trackers));
    store(r.tracker_stride, sizeof(quorlix_shm_tracker));
    __atomic_store_n(&r.host_pid, static_cast<std::int32_t>(getpid()), __ATOMIC_RELEASE);
    store(r.heartbeat_ms, quorlix_shm_now_ms());
    store(r.version, QUORLIX_SHM_VERSION);
    store(r.running, 1);
    // Readers check the magic number first: once it is there, the rest is.
    store(r.magic, QUORLIX_SHM_MAGIC);
}

void PublishedView::renewHeartbeat() { store(shm_->heartbeat_ms, quorlix_shm_now_ms()); }

PublishedView::~PublishedView() { release(); }

namespace {

// A record, its lost mark and one more change, for entry n of either kind,
// in one pass: each word that differs from what the entry holds is stored
// and noted, so the device's thread touches little between its record and
// the readers seeing it.
template <typename Entry, typename Record>
void rewrite(Entry* shared, Entry* mine, std::uint32_t n, const Record& record, bool lost) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return;
    auto* to = reinterpret_cast<std::uint32_t*>(&shared[n - 1]);
    auto* held = reinterpret_cast<std::uint32_t*>(&mine[n - 1]);
    const auto* from = reinterpret_cast<const std::uint32_t*>(&record);
    constexpr std::size_t first = offsetof(Entry, record) / 4;
    static_assert(offsetof(Entry, record) % 4 == 0 && sizeof(Record) % 4 == 0, "whole words");
    const std::uint32_t writing = beginWrite(to);
    auto put = [&](std::size_t i, std::uint32_t word) {
        if (held[i] == word) return;
        held[i] = word;
        __atomic_store_n(&to[i], word, __ATOMIC_RELEASE);
    };
    for (std::size_t i = 0; i < sizeof(Record) / 4; ++i) put(first + i, from[i]);
    put(offsetof(quorlix_shm_entry_head, changes) / 4, mine[n - 1].head.changes + 1);
    put(offsetof(quorlix_shm_entry_head, lost) / 4, lost ? 1u : 0u);
    endWrite(to, held, writing);
}

}  // namespace

void PublishedView::writeController(std::uint32_t n, const quorlix_con_data& record, bool lost) {
    rewrite(shm_->controllers, controllers_, n, record, lost);
}

void PublishedView::writeTracker(std::uint32_t n, const quorlix_tra_data& record, bool lost) {
    rewrite(shm_->trackers, trackers_, n, record, lost);
}

void PublishedView::setOwner(Kind kind, std::uint32_t from, std::uint32_t to, const std::string& owner) {
    for (std::uint32_t i = from; i < to && i < QUORLIX_SHM_ENTRIES; ++i) {
        if (kind == Kind::controller) {
            setOwnerText(controllers_[i].head, owner);
            publishEntry(shm_->controllers[i], controllers_[i]);
        } else {
            setOwnerText(trackers_[i].head, owner);
            publishEntry(shm_->trackers[i], trackers_[i]);
        }
    }
}

void PublishedView::clearEntry(Kind kind, std::uint32_t n) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return;
    // Counted from 0 again: no record has been written there.
    if (kind == Kind::controller) {
        controllers_[n - 1] = quorlix_shm_controller{};
        publishEntry(shm_->controllers[n - 1], controllers_[n - 1]);
    } else {
        trackers_[n - 1] = quorlix_shm_tracker{};
        publishEntry(shm_->trackers[n - 1], trackers_[n - 1]);
    }
}

void PublishedView::setCount(Kind kind, std::uint32_t count) {
    if (count > QUORLIX_SHM_ENTRIES) count = QUORLIX_SHM_ENTRIES;
    store(kind == Kind::controller ? shm_->controller_count : shm_->tracker_count, count);
}

std::uint32_t PublishedView::count(Kind kind) const {
    return kind == Kind::controller ? quorlix_shm_controller_count(shm_) : quorlix_shm_tracker_count(shm_);
}

bool PublishedView::read(std::uint32_t n, quorlix_shm_controller& out) const {
    return quorlix_shm_read_controller(shm_, n, &out) == 0;
}

bool PublishedView::read(std::uint32_t n, quorlix_shm_tracker& out) const {
    return quorlix_shm_read_tracker(shm_, n, &out) == 0;
}

quorlix_shm_controller PublishedView::controller(std::uint32_t n) const {
    quorlix_shm_controller entry{};
    if (!read(n, entry)) entry = quorlix_shm_controller{};
    return entry;
}

quorlix_shm_tracker PublishedView::tracker(std::uint32_t n) const {
    quorlix_shm_tracker entry{};
    if (!read(n, entry)) entry = quorlix_shm_tracker{};
    return entry;
}

void PublishedView::setStale(bool stale) { store(shm_->stale, stale ? 1 : 0); }

bool PublishedView::stale() const { return quorlix_shm_word(&shm_->stale) != 0; }

void PublishedView::markStopped() { store(shm_->running, 0); }

void PublishedView::release() {
    if (shm_ == nullptr) return;
    markStopped();
    object_->release();
}

}  // namespace host
