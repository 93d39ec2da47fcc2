#include "SharedStorages.h"

#include "StorageLock.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <arpa/inet.h>

namespace host {

// The public header describes the same records the plug-in writes.
static_assert(sizeof(quorlix_tra_data) == sizeof(TraData) && sizeof(quorlix_con_data) == sizeof(ConData),
              "record sizes");
static_assert(offsetof(quorlix_tra_data, x) == offsetof(TraData, x) &&
                  offsetof(quorlix_tra_data, roll) == offsetof(TraData, roll) &&
                  offsetof(quorlix_tra_data, time_usec) == offsetof(TraData, timeUsec),
              "tracker record fields");
static_assert(offsetof(quorlix_con_data, valuator_count) == offsetof(ConData, valuatorCount) &&
                  offsetof(quorlix_con_data, valuators) == offsetof(ConData, valuators) &&
                  offsetof(quorlix_con_data, buttons) == offsetof(ConData, buttons) &&
                  offsetof(quorlix_con_data, button_bytes) == offsetof(ConData, buttonBytes),
              "controller record fields");

namespace {

// Robust: a device thread that ends inside the plug-in holding one does not
// wedge the others.
bool makeMutex(pthread_mutex_t& mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    bool ok = pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutex_init(&mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

}  // namespace

std::unique_ptr<SharedStorages> SharedStorages::create(const std::string& shmName, const LoggerSettings& logger,
                                                       std::string& error, const std::string& group) {
    std::string object;
    if (!shmName.empty()) {
        object = shmObjectName(shmName);
        if (object.empty()) {
            error = "\"" + shmName + "\" cannot name a shared-memory object (one word, no '/' inside)";
            return nullptr;
        }
    }
    std::unique_ptr<SharedStorages> storages(new SharedStorages());
    storages->logger_ = makePluginLogger(logger, "quorlix-host");
    if (!storages->initialise(error)) return nullptr;
    storages->view_ = PublishedView::open(object, group, error);
    if (!storages->view_) return nullptr;
    return storages;
}

bool SharedStorages::initialise(std::string& error) {
    if (!makeMutex(tra_.mutex) || !makeMutex(con_.mutex)) {
        error = "creating the storage mutexes failed";
        return false;
    }
    mutexesReady_ = true;
    tra_.handle.handle = &tra_.mutex;
    tra_.handle.logger = logger_.get();
    con_.handle.handle = &con_.mutex;
    con_.handle.logger = logger_.get();
    return true;
}

SharedStorages::~SharedStorages() {
    view_.reset();
    if (mutexesReady_) {
        pthread_mutex_destroy(&tra_.mutex);
        pthread_mutex_destroy(&con_.mutex);
    }
}

int SharedStorages::noteResult(int result, const char* kind) {
    if (result == ENOTRECOVERABLE) broken_.store(kind);
    return result;
}

std::string SharedStorages::failure() {
    // A look at both locks, without waiting: a busy one is no failure.
    { StorageLock lock(tra_.mutex, 0); noteResult(lock.result(), "trackers"); }
    { StorageLock lock(con_.mutex, 0); noteResult(lock.result(), "controllers"); }
    const char* kind = broken_.load();
    if (kind == nullptr) return "";
    return std::string("the ") + kind +
           " lock cannot be used any more (a thread ended holding it and left it unrecoverable)";
}

std::unique_ptr<DeviceViews> SharedStorages::makeViews(const std::string& owner) {
    std::unique_ptr<DeviceViews> views(new DeviceViews());
    views->owner = owner;
    views->tra.traData = reinterpret_cast<TraData*>(traRecords_);
    views->tra.logger = logger_.get();
    views->tra.mutex = &tra_.handle;
    views->tra.count = &views->traCount;
    views->con.conData = reinterpret_cast<ConData*>(conRecords_);
    views->con.logger = logger_.get();
    views->con.mutex = &con_.handle;
    views->con.count = &views->conCount;
    return views;
}

int SharedStorages::beginClaim(DeviceViews& views) {
    {
        StorageLock lock(tra_.mutex);
        if (!lock.held()) return noteResult(lock.result(), "trackers");
        if (!views.placed) views.traOffset = tra_.count;
        views.traCount = views.traOffset;
    }
    StorageLock lock(con_.mutex);
    if (!lock.held()) return noteResult(lock.result(), "controllers");
    if (!views.placed) views.conOffset = con_.count;
    views.conCount = views.conOffset;
    views.placed = true;
    return 0;
}

int SharedStorages::endClaim(DeviceViews& views) {
    {
        StorageLock lock(tra_.mutex);
        if (!lock.held()) return noteResult(lock.result(), "trackers");
        std::uint32_t count = std::min<std::uint32_t>(views.traCount, QUORLIX_SHM_ENTRIES);
        view_->setOwner(PublishedView::Kind::tracker, views.traOffset, count, views.owner);
        tra_.count = std::max(tra_.count, count);
        view_->setCount(PublishedView::Kind::tracker, tra_.count);
    }
    StorageLock lock(con_.mutex);
    if (!lock.held()) return noteResult(lock.result(), "controllers");
    std::uint32_t count = std::min<std::uint32_t>(views.conCount, QUORLIX_SHM_ENTRIES);
    view_->setOwner(PublishedView::Kind::controller, views.conOffset, count, views.owner);
    con_.count = std::max(con_.count, count);
    view_->setCount(PublishedView::Kind::controller, con_.count);
    return 0;
}

bool SharedStorages::controllersFull(const DeviceViews& views) {
    return views.conOffset >= QUORLIX_SHM_ENTRIES && views.conCount <= views.conOffset;
}

int SharedStorages::takeController(std::uint32_t n, quorlix_con_data& out) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return ERANGE;
    StorageLock lock(con_.mutex);
    if (!lock.held()) return noteResult(lock.result(), "controllers");
    // Readers first; the copy for the outputs after.
    view_->writeController(n, conRecords_[n - 1], false);
    out = conRecords_[n - 1];
    return 0;
}

int SharedStorages::releaseController(std::uint32_t n, std::int64_t nowUs, quorlix_con_data& out) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return ERANGE;
    StorageLock lock(con_.mutex);
    if (!lock.held()) return noteResult(lock.result(), "controllers");
    quorlix_con_data& record = conRecords_[n - 1];
    std::memset(record.buttons, 0, sizeof record.buttons);
    std::memset(record.valuators, 0, sizeof record.valuators);
    record.time_sec = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(nowUs / 1000000)));
    record.time_usec = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(nowUs % 1000000)));
    out = record;
    view_->writeController(n, out, true);
    return 0;
}

int SharedStorages::takeTracker(std::uint32_t n, quorlix_tra_data& out) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return ERANGE;
    StorageLock lock(tra_.mutex);
    if (!lock.held()) return noteResult(lock.result(), "trackers");
    view_->writeTracker(n, traRecords_[n - 1], false);
    out = traRecords_[n - 1];
    return 0;
}

}  // namespace host
