// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include "HostConfig.h"
#include "PluginLogger.h"
#include "PublishedView.h"
#include "ShmName.h"
#include "quorlix/shm.h"

#include "storage/CDataStorage.h"
#include "storage/CMutexH.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <pthread.h>

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
// counts and mutexes, which the devices write as the plug-in interface has
// them do. They are the host's alone: after each change the host copies the
// record into its PublishedView, which is all that readers ever see.
class SharedStorages {
public:
    ~SharedStorages();
    SharedStorages(const SharedStorages&) = delete;
    SharedStorages& operator=(const SharedStorages&) = delete;

    // An empty name publishes in memory of the host's own; otherwise in the
    // object "/NAME" (see ViewObject::open), given up when this object goes.
    static std::unique_ptr<SharedStorages> create(const std::string& shmName, const LoggerSettings& logger,
                                                  std::string& error, const std::string& group = "");

    std::unique_ptr<DeviceViews> makeViews(const std::string& owner);
    // Lock waits here are bounded: 0, or the lock's error (see StorageLock).
    // Before a device's init: its counts show exactly the entries before its own.
    int beginClaim(DeviceViews& views);
    // After it: the shared counts and owners cover what it claimed.
    int endClaim(DeviceViews& views);
    // True when the device found no controller entry left: the devices
    // before it took all of them.
    static bool controllersFull(const DeviceViews& views);

    // Copies entry n (1..32) under its lock and publishes it.
    int takeController(std::uint32_t n, quorlix_con_data& out);
    int takeTracker(std::uint32_t n, quorlix_tra_data& out);
    // For a device whose line is lost: entry n keeps its counts but holds
    // nothing pressed and every valuator 0, stamped `nowUs` (microseconds
    // since 1970), and is marked lost until the device's next record. The
    // record as written goes to `out`.
    int releaseController(std::uint32_t n, std::int64_t nowUs, quorlix_con_data& out);

    // Tells readers that the host has stopped.
    void markStopped() { view_->markStopped(); }
    // Marks the host stopped and gives up the name, leaving the memory to
    // threads that may still be inside it.
    void release() { view_->release(); }

    const std::string& shmName() const { return view_->name(); }
    PublishedView& view() { return *view_; }
    const PublishedView& view() const { return *view_; }

    // "the controllers lock cannot be used any more (...)" once a lock failed
    // for good, else "". Looks at both locks without waiting for them.
    std::string failure();

private:
    SharedStorages() = default;
    bool initialise(std::string& error);
    int noteResult(int result, const char* kind);

    struct Storage {
        pthread_mutex_t mutex;
        std::uint32_t count = 0;
        CMutexH handle{};
    };
    std::unique_ptr<PublishedView> view_;
    LoggerPtr logger_;
    Storage tra_{};
    Storage con_{};
    quorlix_tra_data traRecords_[QUORLIX_SHM_ENTRIES] = {};
    quorlix_con_data conRecords_[QUORLIX_SHM_ENTRIES] = {};
    bool mutexesReady_ = false;
    std::atomic<const char*> broken_{nullptr};
};

}  // namespace host
