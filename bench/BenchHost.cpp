#include "BenchHost.h"

#include <cstring>

BenchStorage::BenchStorage(bool trackers) : logger_(), handle_(), mutex_(), count_(0), traData_(), conData_(), storage_() {
    logger_.setName("STORAGE");
    pthread_mutex_init(&handle_, nullptr);
    mutex_.handle = &handle_;
    mutex_.logger = &logger_;
    storage_.traData = trackers ? traData_ : nullptr;
    storage_.conData = trackers ? nullptr : conData_;
    storage_.logger = &logger_;
    storage_.mutex = &mutex_;
    storage_.count = &count_;
}

BenchStorage::~BenchStorage() { pthread_mutex_destroy(&handle_); }

BenchHost::BenchHost() : trackers_(true), controllers_(false), keepRunning_(1), masks_(), info_() {
    info_.traStorage = trackers_.storage();
    info_.conStorage = controllers_.storage();
    info_.runFlag = &keepRunning_;
}
