#pragma once

#include "plugin/InitInfo.h"
#include "storage/CDataStorage.h"
#include "storage/CMutexH.h"
#include "storage/ConData.h"
#include "storage/TraData.h"
#include "support/CLogH.h"

#include <pthread.h>

#include <cstdint>

// One host storage of tracker or controller records with its count, mutex
// and logger. The records live in a heap block of exactly 32, so a write past
// the last entry is caught by the address sanitizer.
class FuzzStorage {
public:
    explicit FuzzStorage(bool trackers);
    ~FuzzStorage();
    FuzzStorage(const FuzzStorage&) = delete;
    FuzzStorage& operator=(const FuzzStorage&) = delete;

    CDataStorage* storage() { return &storage_; }
    std::uint32_t count() const { return count_; }
    const TraData& tra(std::uint32_t n) const { return traData_[n - 1]; }
    const ConData& con(std::uint32_t n) const { return conData_[n - 1]; }
    // Entries from n to 32 hold only zero bytes, as the host made them.
    bool untouchedFrom(std::uint32_t n) const;

private:
    CLogH logger_;
    pthread_mutex_t handle_;
    CMutexH mutex_;
    std::uint32_t count_;
    TraData* traData_;
    ConData* conData_;
    CDataStorage storage_;
};

// Both storages, the keep-running flag, the change masks and the InitInfo
// block of a host running one wand.
class FuzzHost {
public:
    FuzzHost();
    FuzzHost(const FuzzHost&) = delete;
    FuzzHost& operator=(const FuzzHost&) = delete;

    InitInfo* initInfo() { return &info_; }

    FuzzStorage trackers;
    FuzzStorage controllers;
    std::int32_t keepRunning;
    std::uint8_t masks[8];

private:
    InitInfo info_;
};

// Ends the run with the reason when a condition the host relies on is broken.
void require(bool condition, const char* what);

// What a host may rely on in a published wand controller record: the wand's
// counts and offsets, its entry number, a time stamp within the second, zero
// reserved bytes, no button above 11 and no valuator beyond 2. A record never
// published (all zero) passes. `valuatorLimit` bounds both valuators as stored
// (thousandths); 0 leaves them unbounded.
void requireWandRecord(const ConData& record, std::int32_t valuatorLimit);

// The emulated tracker record: entry number 1, a time stamp within the
// second, zero reserved bytes.
void requireTrackerRecord(const TraData& record);

// Only the bit of entry 1 may be set in either change mask.
void requireMasksOfEntryOne(const std::uint8_t* masks);
