// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include "HostConfig.h"
#include "PluginLogger.h"
#include "ShmName.h"
#include "quorlix/shm.h"

#include "storage/CDataStorage.h"
#include "storage/CMutexH.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace host {

// One device's view of the two storages: the shared records and mutexes, but
// counts of its own. A device claims entries by raising the count it sees;
// with a count of its own, a device that is set up again after its line came
// back claims the same entries instead of new ones, and never shrinks what
// the other devices see.
struct DeviceViews {
    CDataStorage tra{};
    CDataStorage con{};
    std::uint32_t traCount = 0;
    std::uint32_t conCount = 0;
    std::uint32_t traOffset = 0;
    std::uint32_t conOffset = 0;
    bool placed = false;
    std::string owner;
};

// The host's tracker and controller storages: 32 records of each kind, their
// counts and robust process-shared mutexes, in the host's own memory or in a
// POSIX shared-memory object that other programs can map.
class SharedStorages {
public:
    ~SharedStorages();
    SharedStorages(const SharedStorages&) = delete;
    SharedStorages& operator=(const SharedStorages&) = delete;

    // An empty name keeps the storages private; otherwise "/NAME" is created
    // (a stale object of a host that died is replaced; one of a running host
    // is refused) and removed again when this object goes. The object is for
    // this user alone (0600), or with a group for that group's members too (0660).
    static std::unique_ptr<SharedStorages> create(const std::string& shmName, const LoggerSettings& logger,
                                                  std::string& error, const std::string& group = "");

    std::unique_ptr<DeviceViews> makeViews(const std::string& owner);
    // Lock waits here are bounded (a reader may hold a lock for ever): false
    // when a lock was not free in time.
    // Before a device's init: its counts show exactly the entries before its own.
    bool beginClaim(DeviceViews& views);
    // After it: the shared counts and owners cover what it claimed.
    bool endClaim(DeviceViews& views);

    // Copies entry n (1..32) under its lock and notes that it was rewritten.
    bool takeController(std::uint32_t n, quorlix_con_data& out);
    bool takeTracker(std::uint32_t n, quorlix_tra_data& out);
    // For a device whose line is lost: entry n keeps its counts but holds
    // nothing pressed and every valuator 0, stamped `nowUs` (microseconds
    // since 1970), and is marked lost until the device's next record. The
    // record as written goes to `out`.
    bool releaseController(std::uint32_t n, std::int64_t nowUs, quorlix_con_data& out);

    // Tells readers of the shared memory that the host has stopped.
    void markStopped();
    // Marks the host stopped and gives up the name, leaving the mapping to
    // threads that may still be inside it.
    void release();

    // The storage locks another process holds now.
    struct HeldLock {
        const char* kind;  // "controllers" or "trackers"
        pid_t holder;      // 0 where the system does not tell
    };
    std::vector<HeldLock> locksHeldElsewhere() const;
    // "the controllers lock is held by process 12 (reader)", for messages.
    std::string describeHeldLocks() const;

    const std::string& shmName() const { return name_; }
    quorlix_shm& region() { return *region_; }
    const quorlix_shm& region() const { return *region_; }

private:
    SharedStorages() = default;
    bool map(const std::string& name, const std::string& group, std::string& error);
    bool initialise(std::string& error);
    bool takeName(const std::string& object, std::string& error);

    std::string name_;
    quorlix_shm* region_ = nullptr;
    bool mutexesReady_ = false;
    LoggerPtr logger_;
    CMutexH traMutex_{};
    CMutexH conMutex_{};
    int lockFd_ = -1;
    std::string lockName_;
};

}  // namespace host
