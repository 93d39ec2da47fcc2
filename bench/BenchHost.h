#pragma once

#include "plugin/InitInfo.h"
#include "storage/CDataStorage.h"
#include "storage/CMutexH.h"
#include "support/CLogH.h"

#include <pthread.h>

#include <cstdint>

// One host storage of tracker or controller records, with its count, mutex
// and logger, laid out as the host lays it out.
class BenchStorage {
public:
    explicit BenchStorage(bool trackers);
    ~BenchStorage();
    BenchStorage(const BenchStorage&) = delete;
    BenchStorage& operator=(const BenchStorage&) = delete;

    CDataStorage* storage() { return &storage_; }

private:
    CLogH logger_;
    pthread_mutex_t handle_;
    CMutexH mutex_;
    std::uint32_t count_;
    TraData traData_[CDataStorage::kMaxEntries];
    ConData conData_[CDataStorage::kMaxEntries];
    CDataStorage storage_;
};

// Both storages, the keep-running flag and the InitInfo block a host hands to init.
class BenchHost {
public:
    BenchHost();

    InitInfo* initInfo() { return &info_; }
    std::uint8_t* masks() { return masks_; }

private:
    BenchStorage trackers_;
    BenchStorage controllers_;
    std::int32_t keepRunning_;
    std::uint8_t masks_[8];
    InitInfo info_;
};
