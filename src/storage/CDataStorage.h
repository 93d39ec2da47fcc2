#pragma once

#include "storage/ConData.h"
#include "storage/TraData.h"

#include <cstddef>
#include <cstdint>

class CLogH;
class CMutexH;

// The device's view of one host storage of published records: either tracker
// or controller records, at most kMaxEntries, guarded by the storage's mutex.
// The host lays the object out and owns it and everything it points to.
// Nothing here locks by itself: callers bracket counts and entries with
// lock() and unlock().
class CDataStorage {
public:
    static constexpr std::uint32_t kMaxEntries = 32;

    bool setTraDataCount(std::uint32_t n);
    bool setConDataCount(std::uint32_t n);
    // Entry n counted from 1, or null outside 1..count or on the other kind of storage.
    TraData* getTraData(std::uint32_t n);
    ConData* getConData(std::uint32_t n);
    std::uint32_t getTraDataCount() const;
    std::uint32_t getConDataCount() const;
    bool lock();
    bool unlock();

    std::uint8_t hostField0[4];
    TraData* traData;
    ConData* conData;
    CLogH* logger;
    std::uint8_t hostField1[4];
    CMutexH* mutex;
    std::uint8_t hostFields2[8];
    std::uint32_t* count;

private:
    const CLogH& log() const;
    bool refuse(const char* message) const;
    std::uint32_t usableCount() const;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(CDataStorage, traData) == 4 && offsetof(CDataStorage, conData) == 8 &&
                  offsetof(CDataStorage, logger) == 12 && offsetof(CDataStorage, mutex) == 20 &&
                  offsetof(CDataStorage, count) == 32,
              "CDataStorage as the host lays it out");
#endif
