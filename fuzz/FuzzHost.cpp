#include "FuzzHost.h"

#include "storage/ByteOrder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool allZero(const void* bytes, std::size_t size) {
    static const std::uint8_t zeros[sizeof(ConData)] = {};
    static_assert(sizeof(ConData) >= sizeof(TraData), "the zero block covers every record");
    return size <= sizeof zeros && std::memcmp(bytes, zeros, size) == 0;
}

void requireTime(std::int32_t storedUsec, const char* what) {
    const std::int32_t usec = netToHostSigned(storedUsec);
    require(usec >= 0 && usec <= 999000 && usec % 1000 == 0, what);
}

}  // namespace

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "host invariant broken: %s\n", what);
    std::abort();
}

FuzzStorage::FuzzStorage(bool trackers)
    : logger_(),
      handle_(),
      mutex_(),
      count_(0),
      traData_(trackers ? new TraData[CDataStorage::kMaxEntries]() : nullptr),
      conData_(trackers ? nullptr : new ConData[CDataStorage::kMaxEntries]()),
      storage_() {
    logger_.showDate = logger_.showTime = logger_.showThreadId = false;
    logger_.setName(trackers ? "TraData" : "ConData");
    pthread_mutex_init(&handle_, nullptr);
    mutex_.handle = &handle_;
    mutex_.logger = &logger_;
    storage_.traData = traData_;
    storage_.conData = conData_;
    storage_.logger = &logger_;
    storage_.mutex = &mutex_;
    storage_.count = &count_;
}

FuzzStorage::~FuzzStorage() {
    pthread_mutex_destroy(&handle_);
    delete[] traData_;
    delete[] conData_;
}

bool FuzzStorage::untouchedFrom(std::uint32_t n) const {
    for (std::uint32_t i = n; i <= CDataStorage::kMaxEntries; ++i) {
        if (traData_ != nullptr && !allZero(&traData_[i - 1], sizeof(TraData))) return false;
        if (conData_ != nullptr && !allZero(&conData_[i - 1], sizeof(ConData))) return false;
    }
    return true;
}

FuzzHost::FuzzHost() : trackers(true), controllers(false), keepRunning(1), masks(), info_() {
    info_.traStorage = trackers.storage();
    info_.conStorage = controllers.storage();
    info_.runFlag = &keepRunning;
}

void requireWandRecord(const ConData& record, std::int32_t valuatorLimit) {
    if (allZero(&record, sizeof record)) return;
    require(netToHost(record.number) == 1, "controller record number is its entry");
    require(netToHost(record.valuatorCount) == 2, "two valuators");
    require(netToHost(record.buttonCount) == 11, "eleven buttons");
    require(netToHost(record.valuatorOffset) == 36, "valuator offset");
    require(netToHost(record.buttonOffset) == 36 + 4 * 2, "button offset just past the valuators");
    require(record.buttonBytes == 4, "four button bytes");
    require(allZero(record.reserved0, sizeof record.reserved0) && allZero(record.reserved1, sizeof record.reserved1),
            "controller reserved bytes stay zero");
    requireTime(record.timeUsec, "controller microseconds within the second, whole milliseconds");
    // Buttons 1 to 11 use byte 0 and the low three bits of byte 1.
    require((record.buttons[1] & 0xF8) == 0 && record.buttons[2] == 0 && record.buttons[3] == 0,
            "no button above 11");
    for (std::uint32_t v = 3; v <= ConData::kMaxValuators; ++v) {
        require(record.valuators[v - 1] == 0, "no valuator beyond 2");
    }
    if (valuatorLimit > 0) {
        for (std::uint32_t v = 1; v <= 2; ++v) {
            const std::int32_t stored = netToHostSigned(record.valuators[v - 1]);
            require(stored >= -valuatorLimit && stored <= valuatorLimit, "valuator within [-1, 1]");
        }
    }
}

void requireTrackerRecord(const TraData& record) {
    require(netToHost(record.number) == 1, "tracker record number is its entry");
    require(allZero(record.reserved0, sizeof record.reserved0) && allZero(record.reserved1, sizeof record.reserved1) &&
                allZero(record.reserved2, sizeof record.reserved2),
            "tracker reserved bytes stay zero");
    requireTime(record.timeUsec, "tracker microseconds within the second, whole milliseconds");
}

void requireMasksOfEntryOne(const std::uint8_t* masks) {
    require(masks[0] == 0 && masks[1] == 0 && masks[2] == 0 && masks[3] <= 1, "tracker mask: entry 1 only");
    require(masks[4] == 0 && masks[5] == 0 && masks[6] == 0 && masks[7] <= 1, "controller mask: entry 1 only");
}
