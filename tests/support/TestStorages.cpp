#include "TestStorages.h"

#include "TestOptions.h"

TestStorages::TestStorages()
    : traLogger(quietLogger("TraData")),
      conLogger(quietLogger("ConData")),
      traMutexLogger(quietLogger("TraMutex")),
      conMutexLogger(quietLogger("ConMutex")) {
    traMutex.handle = traLock.handle();
    traMutex.logger = &traMutexLogger;
    conMutex.handle = conLock.handle();
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

InitInfo TestStorages::initInfo(std::int32_t* runFlag) {
    InitInfo info;
    for (void*& word : info.hostWords) word = reinterpret_cast<void*>(~std::uintptr_t{0});
    info.traStorage = &tra;
    info.conStorage = &con;
    info.runFlag = runFlag;
    return info;
}
