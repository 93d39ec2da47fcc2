#pragma once

#include "HostLock.h"
#include "plugin/InitInfo.h"
#include "storage/CDataStorage.h"
#include "storage/CMutexH.h"
#include "storage/ConData.h"
#include "storage/TraData.h"
#include "support/CLogH.h"

#include <cstdint>

// A host's two storages, built in memory the way a host lays them out: a
// tracker and a controller storage, each with 32 records, a count, the
// system's host mutex wrapped in a CMutexH, and quiet loggers whose lines
// read "TraData: ERROR: ..." / "ConData: ERROR: ..." (storage) and
// "TraMutex: ..." / "ConMutex: ..." (mutex).
struct TestStorages {
    TestStorages();
    TestStorages(const TestStorages&) = delete;
    TestStorages& operator=(const TestStorages&) = delete;

    // The block a host passes to init: storages in words 0 and 1, the
    // keep-running flag in word 11, the host's own words filled with junk
    // the device must not touch.
    InitInfo initInfo(std::int32_t* runFlag);

    std::uint32_t traCount = 0;
    std::uint32_t conCount = 0;
    TraData traRecords[CDataStorage::kMaxEntries] = {};
    ConData conRecords[CDataStorage::kMaxEntries] = {};
    HostLock traLock;
    HostLock conLock;
    CLogH traLogger;
    CLogH conLogger;
    CLogH traMutexLogger;
    CLogH conMutexLogger;
    CMutexH traMutex = {};
    CMutexH conMutex = {};
    CDataStorage tra = {};
    CDataStorage con = {};
};
