#pragma once

#include "plugin/InitInfo.h"
#include "storage/CDataStorage.h"
#include "storage/CMutexH.h"
#include "storage/ConData.h"
#include "storage/TraData.h"
#include "support/CLogH.h"

#include <windows.h>

#include <cstdint>

// A Windows host's two storages, laid out as a host lays them out: tracker
// and controller storage with 32 records each, a count, a Win32 mutex wrapped
// in a CMutexH, and quiet loggers whose lines read "TraData: ..." and
// "ConData: ..." (storage) or "TraMutex: ..." and "ConMutex: ..." (mutex).
struct HostStorages {
    HostStorages();
    ~HostStorages();
    HostStorages(const HostStorages&) = delete;
    HostStorages& operator=(const HostStorages&) = delete;

    // The block a host passes to init: storages in words 0 and 1, the
    // keep-running flag in word 11, the host's own words filled with junk
    // the device must not touch.
    InitInfo initInfo(std::int32_t* runFlag);

    std::uint32_t traCount = 0;
    std::uint32_t conCount = 0;
    TraData traRecords[CDataStorage::kMaxEntries] = {};
    ConData conRecords[CDataStorage::kMaxEntries] = {};
    HANDLE traLock;
    HANDLE conLock;
    CLogH traLogger;
    CLogH conLogger;
    CLogH traMutexLogger;
    CLogH conMutexLogger;
    CMutexH traMutex = {};
    CMutexH conMutex = {};
    CDataStorage tra = {};
    CDataStorage con = {};
};

// True when no thread holds the mutex. Asked from a thread of its own: a
// Win32 mutex is recursive, so its owner would always get it.
bool mutexIsFree(HANDLE mutex);
