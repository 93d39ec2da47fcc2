#include "TestStorages.h"

#include "TestOptions.h"

bool initHostMutex(pthread_mutex_t& mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) return false;
    const bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                    pthread_mutex_init(&mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

TestStorages::TestStorages()
    : traLogger(quietLogger("TraData")),
      conLogger(quietLogger("ConData")),
      traMutexLogger(quietLogger("TraMutex")),
      conMutexLogger(quietLogger("ConMutex")) {
    initHostMutex(traLock);
    initHostMutex(conLock);
    traMutex.handle = &traLock;
    traMutex.logger = &traMutexLogger;
    conMutex.handle = &conLock;
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

TestStorages::~TestStorages() {
    pthread_mutex_destroy(&traLock);
    pthread_mutex_destroy(&conLock);
}

InitInfo TestStorages::initInfo(std::int32_t* runFlag) {
    InitInfo info{};
    info.traStorage = &tra;
    info.conStorage = &con;
    info.runFlag = runFlag;
    return info;
}
