#pragma once

#include "plugin/InitInfo.h"
#include "storage/CDataStorage.h"
#include "storage/CMutexH.h"
#include "storage/ConData.h"
#include "storage/TraData.h"
#include "support/CLogH.h"

#include <cstdint>
#include <pthread.h>

// A host's two storages, built in memory the way a host lays them out: a
// tracker and a controller storage, each with 32 records, a count, a robust
// process-shared mutex wrapped in a CMutexH, and quiet loggers whose lines
// read "TraData: ERROR: ..." / "ConData: ERROR: ..." (storage) and
// "TraMutex: ..." / "ConMutex: ..." (mutex).
struct TestStorages {
    TestStorages();
    ~TestStorages();
    TestStorages(const TestStorages&) = delete;
    TestStorages& operator=(const TestStorages&) = delete;

    // The block a host passes to init, pointing at these storages.
    InitInfo initInfo(std::int32_t* runFlag);

    std::uint32_t traCount = 0;
    std::uint32_t conCount = 0;
    TraData traRecords[CDataStorage::kMaxEntries] = {};
    ConData conRecords[CDataStorage::kMaxEntries] = {};
    pthread_mutex_t traLock;
    pthread_mutex_t conLock;
    CLogH traLogger;
    CLogH conLogger;
    CLogH traMutexLogger;
    CLogH conMutexLogger;
    CMutexH traMutex = {};
    CMutexH conMutex = {};
    CDataStorage tra = {};
    CDataStorage con = {};
};

// Sets up a mutex as a host does: process-shared and robust.
bool initHostMutex(pthread_mutex_t& mutex);
