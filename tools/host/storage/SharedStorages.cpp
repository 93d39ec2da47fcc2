#include "SharedStorages.h"

#include "LockHolder.h"
#include "ProcessInfo.h"
#include "StorageLock.h"

#include <algorithm>
#include <cstddef>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
static_assert(sizeof(quorlix_shm_mutex) == 64 && offsetof(quorlix_shm, trackers) == 32 &&
                  offsetof(quorlix_shm, tra) % 8 == 0 && offsetof(quorlix_shm, con) % 8 == 0,
              "shared memory layout is the same for 32- and 64-bit readers");

namespace {

std::string systemText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool makeMutex(pthread_mutex_t& mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutex_init(&mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

bool sameObject(int fd, const std::string& name) {
    int again = shm_open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (again < 0) return false;
    struct stat held {}, now {};
    bool same = fstat(fd, &held) == 0 && fstat(again, &now) == 0 && held.st_ino == now.st_ino &&
                held.st_dev == now.st_dev;
    ::close(again);
    return same;
}

// The pid written into a name's lock by the host that holds it, or 0.
pid_t lockHolderPid(int fd) {
    char text[24] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? static_cast<pid_t>(std::strtol(text, nullptr, 10)) : 0;
}

void setOwner(quorlix_shm_storage& storage, std::uint32_t from, std::uint32_t to, const std::string& owner) {
    for (std::uint32_t n = from; n < to && n < QUORLIX_SHM_ENTRIES; ++n) {
        std::memset(storage.owner[n], 0, QUORLIX_SHM_OWNER_SIZE);
        std::strncpy(storage.owner[n], owner.c_str(), QUORLIX_SHM_OWNER_SIZE - 1);
    }
}

// Gives the object to `group`, readable and writable by its members.
bool shareWithGroup(int fd, const std::string& object, const std::string& group, std::string& error) {
    struct group entry {};
    struct group* found = nullptr;
    char buffer[4096];
    errno = getgrnam_r(group.c_str(), &entry, buffer, sizeof buffer, &found);
    if (found == nullptr) {
        error = "shm-group: there is no group \"" + group + "\"";
        return false;
    }
    if (fchown(fd, static_cast<uid_t>(-1), found->gr_gid) != 0 || fchmod(fd, 0660) != 0) {
        error = systemText("giving shared memory " + object + " to group " + group +
                           " (the host must be a member of it)");
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<SharedStorages> SharedStorages::create(const std::string& shmName, const LoggerSettings& logger,
                                                       std::string& error, const std::string& group) {
    std::unique_ptr<SharedStorages> storages(new SharedStorages());
    storages->logger_ = makePluginLogger(logger, "quorlix-host");
    if (!storages->map(shmName, group, error) || !storages->initialise(error)) return nullptr;
    return storages;
}

bool SharedStorages::map(const std::string& shmName, const std::string& group, std::string& error) {
    if (shmName.empty()) {
        void* mapped = mmap(nullptr, sizeof(quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            error = systemText("allocating the storages");
            return false;
        }
        region_ = static_cast<quorlix_shm*>(mapped);
        return true;
    }
    std::string object = shmObjectName(shmName);
    if (object.empty()) {
        error = "\"" + shmName + "\" cannot name a shared-memory object (one word, no '/' inside)";
        return false;
    }
    if (!takeName(object, error)) return false;
    // The name is ours; an object still there was left by a host that died
    // (readers that have it mapped keep their copy).
    struct stat left {};
    int old = shm_open(object.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (old >= 0) {
        bool ours = fstat(old, &left) == 0 && left.st_uid == geteuid();
        ::close(old);
        if (!ours) {
            error = "shared memory " + object + " belongs to user " + std::to_string(left.st_uid) +
                    "; choose another --shm name";
            return false;
        }
        shm_unlink(object.c_str());
    }
    int fd = shm_open(object.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = systemText("creating shared memory " + object);
        return false;
    }
    // Nothing is mapped yet on failure: the object goes here, not in the destructor.
    auto fail = [&](const std::string& message) {
        if (!message.empty()) error = message;
        ::close(fd);
        shm_unlink(object.c_str());
        return false;
    };
    if (!group.empty() && !shareWithGroup(fd, object, group, error)) return fail("");
    if (ftruncate(fd, sizeof(quorlix_shm)) != 0) return fail(systemText("sizing shared memory " + object));
    void* mapped = mmap(nullptr, sizeof(quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) return fail(systemText("mapping shared memory " + object));
    ::close(fd);
    name_ = object;
    region_ = static_cast<quorlix_shm*>(mapped);
    return true;
}

// Whoever holds the lock of "/NAME.lock" owns the name: the kernel drops the
// lock of a host that dies, and two hosts taking over a stale name at once
// cannot both get it. The holder removes the lock object while holding it,
// so a lock taken on an object no longer under the name does not count.
bool SharedStorages::takeName(const std::string& object, std::string& error) {
    std::string lockName = object + ".lock";
    for (int attempt = 0; attempt < 20; ++attempt) {
        int fd = shm_open(lockName.c_str(), O_CREAT | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = systemText("opening the lock of shared memory " + object);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            pid_t holder = lockHolderPid(fd);
            ::close(fd);
            error = "shared memory " + object + " is in use by another host" +
                    (holder > 0 ? " (" + describeProcess(holder) + ")" : "");
            return false;
        }
        if (!sameObject(fd, lockName)) {
            ::close(fd);
            continue;
        }
        std::string pid = std::to_string(getpid()) + "\n";
        bool noted = ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
        (void)noted;  // only the message of a host that loses the name needs it
        lockFd_ = fd;
        lockName_ = lockName;
        return true;
    }
    error = "shared memory " + object + " keeps changing hands; try again";
    return false;
}

bool SharedStorages::initialise(std::string& error) {
    quorlix_shm& r = *region_;
    std::memset(&r, 0, sizeof r);
    if (!makeMutex(r.trackers.lock.mutex) || !makeMutex(r.controllers.lock.mutex)) {
        error = "creating the storage mutexes failed";
        return false;
    }
    mutexesReady_ = true;
    r.version = QUORLIX_SHM_VERSION;
    r.size = sizeof r;
    r.host_pid = static_cast<std::int32_t>(getpid());
    std::uint64_t started = processStartTicks(getpid());
    r.host_start_low = static_cast<std::uint32_t>(started);
    r.host_start_high = static_cast<std::uint32_t>(started >> 32);
    r.running = 1;
    traMutex_.handle = &r.trackers.lock.mutex;
    traMutex_.logger = logger_.get();
    conMutex_.handle = &r.controllers.lock.mutex;
    conMutex_.logger = logger_.get();
    // Readers check the magic number last: once it is there, the rest is.
    __atomic_store_n(&r.magic, QUORLIX_SHM_MAGIC, __ATOMIC_RELEASE);
    return true;
}

SharedStorages::~SharedStorages() {
    if (region_ == nullptr) {
        release();  // the name's lock, where the object itself failed
        return;
    }
    if (name_.empty()) {
        if (mutexesReady_) {
            pthread_mutex_destroy(&region_->trackers.lock.mutex);
            pthread_mutex_destroy(&region_->controllers.lock.mutex);
        }
    } else {
        // Readers may still have it mapped: leave their mutexes alone, only
        // tell them the host is gone and take the name away.
        release();
    }
    munmap(region_, sizeof(quorlix_shm));
}

void SharedStorages::release() {
    if (!name_.empty()) {
        markStopped();
        shm_unlink(name_.c_str());
        name_.clear();
    }
    if (lockFd_ >= 0) {
        shm_unlink(lockName_.c_str());
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

void SharedStorages::markStopped() {
    // Briefly: a reader stuck with a lock does not keep the host from ending,
    // and the word is written whole either way.
    StorageLock tra(region_->trackers, 100);
    StorageLock con(region_->controllers, 100);
    __atomic_store_n(&region_->running, 0u, __ATOMIC_RELEASE);
}

std::unique_ptr<DeviceViews> SharedStorages::makeViews(const std::string& owner) {
    std::unique_ptr<DeviceViews> views(new DeviceViews());
    views->owner = owner;
    views->tra.traData = reinterpret_cast<TraData*>(region_->tra);
    views->tra.logger = logger_.get();
    views->tra.mutex = &traMutex_;
    views->tra.count = &views->traCount;
    views->con.conData = reinterpret_cast<ConData*>(region_->con);
    views->con.logger = logger_.get();
    views->con.mutex = &conMutex_;
    views->con.count = &views->conCount;
    return views;
}

bool SharedStorages::beginClaim(DeviceViews& views) {
    {
        StorageLock lock(region_->trackers);
        if (!lock.held()) return false;
        if (!views.placed) views.traOffset = region_->trackers.count;
        views.traCount = views.traOffset;
    }
    StorageLock lock(region_->controllers);
    if (!lock.held()) return false;
    if (!views.placed) views.conOffset = region_->controllers.count;
    views.conCount = views.conOffset;
    views.placed = true;
    return true;
}

bool SharedStorages::endClaim(DeviceViews& views) {
    {
        StorageLock lock(region_->trackers);
        if (!lock.held()) return false;
        std::uint32_t count = std::min<std::uint32_t>(views.traCount, QUORLIX_SHM_ENTRIES);
        setOwner(region_->trackers, views.traOffset, count, views.owner);
        region_->trackers.count = std::max(region_->trackers.count, count);
    }
    StorageLock lock(region_->controllers);
    if (!lock.held()) return false;
    std::uint32_t count = std::min<std::uint32_t>(views.conCount, QUORLIX_SHM_ENTRIES);
    setOwner(region_->controllers, views.conOffset, count, views.owner);
    region_->controllers.count = std::max(region_->controllers.count, count);
    return true;
}

bool SharedStorages::takeController(std::uint32_t n, quorlix_con_data& out) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return false;
    StorageLock lock(region_->controllers);
    if (!lock.held()) return false;
    out = region_->con[n - 1];
    ++region_->controllers.changes[n - 1];
    region_->controllers.lost &= ~(1u << (n - 1));
    return true;
}

bool SharedStorages::releaseController(std::uint32_t n, std::int64_t nowUs, quorlix_con_data& out) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return false;
    StorageLock lock(region_->controllers);
    if (!lock.held()) return false;
    quorlix_con_data& record = region_->con[n - 1];
    std::memset(record.buttons, 0, sizeof record.buttons);
    std::memset(record.valuators, 0, sizeof record.valuators);
    record.time_sec = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(nowUs / 1000000)));
    record.time_usec = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(nowUs % 1000000)));
    out = record;
    ++region_->controllers.changes[n - 1];
    region_->controllers.lost |= 1u << (n - 1);
    return true;
}

bool SharedStorages::takeTracker(std::uint32_t n, quorlix_tra_data& out) {
    if (n < 1 || n > QUORLIX_SHM_ENTRIES) return false;
    StorageLock lock(region_->trackers);
    if (!lock.held()) return false;
    out = region_->tra[n - 1];
    ++region_->trackers.changes[n - 1];
    return true;
}

std::vector<SharedStorages::HeldLock> SharedStorages::locksHeldElsewhere() const {
    std::vector<HeldLock> held;
    const std::pair<const char*, const quorlix_shm_storage*> storages[] = {{"controllers", &region_->controllers},
                                                                         {"trackers", &region_->trackers}};
    for (const auto& storage : storages) {
        pid_t thread = lockOwnerThread(storage.second->lock.mutex);
        if (thread == 0) continue;
        pid_t holder = processOfThread(thread);
        if (holder != getpid()) held.push_back({storage.first, holder});
    }
    return held;
}

std::string SharedStorages::describeHeldLocks() const {
    std::string text;
    for (const HeldLock& lock : locksHeldElsewhere())
        text += std::string(text.empty() ? "" : "; ") + "the " + lock.kind + " lock is held by " +
                (lock.holder > 0 ? describeProcess(lock.holder) : "another process");
    return text.empty() ? "a storage lock was not free in time" : text;
}

}  // namespace host
