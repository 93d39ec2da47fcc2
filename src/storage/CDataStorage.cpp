#include "storage/CDataStorage.h"

#include "storage/CMutexH.h"
#include "support/CLogH.h"

namespace {

// Reports still reach standard output when the host left the logger unset.
const CLogH& fallbackLogger() {
    static const CLogH logger = [] {
        CLogH l;
        l.setName("CDataStorage");
        return l;
    }();
    return logger;
}

}  // namespace

const CLogH& CDataStorage::log() const { return logger != nullptr ? *logger : fallbackLogger(); }

bool CDataStorage::refuse(const char* message) const {
    log().error(message, true);
    return false;
}

// The host's count, never more than the arrays hold.
std::uint32_t CDataStorage::usableCount() const {
    if (count == nullptr) return 0;
    return *count < kMaxEntries ? *count : kMaxEntries;
}

bool CDataStorage::setTraDataCount(std::uint32_t n) {
    if (n > kMaxEntries) return refuse("CDataStorage: The new number is too big.");
    if (conData != nullptr) return refuse("Delete controller data list first.");
    if (traData == nullptr || count == nullptr) return refuse("CDataStorage: Data storage has not been created yet.");
    if (mutex == nullptr) return refuse("CDataStorage: Mutex has not been set up yet.");
    if (n == 0) return refuse("CDataStorage: the number of data is zero.");
    *count = n;
    return true;
}

bool CDataStorage::setConDataCount(std::uint32_t n) {
    if (n > kMaxEntries) return refuse("CDataStorage: The new number is too big.");
    if (traData != nullptr) return refuse("CDataStorage: Delete tracker data list first.");
    // "Datt" is the hosts' own spelling; readers match it.
    if (conData == nullptr || count == nullptr) return refuse("CDataStorage: Datt Storage has not been created yet.");
    if (mutex == nullptr) return refuse("CDataStorage: Mutex has not been set up yet.");
    if (n == 0) return refuse("CDataStorage: the number of data is zero.");
    *count = n;
    return true;
}

TraData* CDataStorage::getTraData(std::uint32_t n) {
    if (traData == nullptr || n == 0 || n > usableCount()) return nullptr;
    return &traData[n - 1];
}

ConData* CDataStorage::getConData(std::uint32_t n) {
    if (conData == nullptr || n == 0 || n > usableCount()) return nullptr;
    return &conData[n - 1];
}

std::uint32_t CDataStorage::getTraDataCount() const {
    if (traData == nullptr || count == nullptr) return 0;
    return *count;
}

std::uint32_t CDataStorage::getConDataCount() const {
    if (conData == nullptr || count == nullptr) return 0;
    return *count;
}

bool CDataStorage::lock() {
    if (mutex == nullptr) return refuse("CDataStorage: Mutex has not been set up yet.");
    return mutex->lock();
}

bool CDataStorage::unlock() {
    if (mutex == nullptr) return refuse("CDataStorage: Mutex has not been set up yet.");
    return mutex->unlock();
}
