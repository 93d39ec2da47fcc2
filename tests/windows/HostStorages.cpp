#include "HostStorages.h"

#include "TestOptions.h"

#include <thread>

HostStorages::HostStorages()
    : traLock(CreateMutexA(NULL, FALSE, NULL)),
      conLock(CreateMutexA(NULL, FALSE, NULL)),
      traLogger(quietLogger("TraData")),
      conLogger(quietLogger("ConData")),
      traMutexLogger(quietLogger("TraMutex")),
      conMutexLogger(quietLogger("ConMutex")) {
    traMutex.handle = traLock;
    traMutex.logger = &traMutexLogger;
    conMutex.handle = conLock;
    conMutex.logger = &conMutexLogger;

    tra.traData = traRecords;
    tra.logger = &traLogger;
    tra.mutex = &traMutex;
    tra.count = &traCount;

    con.conData = conRecords;
    con.logger = &conLogger;
    con.mutex = &conMutex;
    con.count = &conCount;
}

HostStorages::~HostStorages() {
    CloseHandle(traLock);
    CloseHandle(conLock);
}

InitInfo HostStorages::initInfo(std::int32_t* runFlag) {
    InitInfo info;
    for (void*& word : info.hostWords) word = reinterpret_cast<void*>(~std::uintptr_t{0});
    info.traStorage = &tra;
    info.conStorage = &con;
    info.runFlag = runFlag;
    return info;
}

bool mutexIsFree(HANDLE mutex) {
    DWORD result = WAIT_FAILED;
    std::thread([&] {
        result = WaitForSingleObject(mutex, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    }).join();
    return result == WAIT_OBJECT_0;
}
