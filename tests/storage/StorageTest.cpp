#include "CaptureStdout.h"
#include "TestStorages.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct CountCase {
    const char* what;
    bool tracker;         // setTraDataCount, else setConDataCount
    bool trackerList;     // the storage holds tracker records
    bool controllerList;  // the storage holds controller records
    bool withMutex;
    std::uint32_t n;
    const char* message;  // null: accepted
};

const CountCase kCountCases[] = {
    {"33 is too big on a tracker storage", true, true, false, true, 33, "CDataStorage: The new number is too big."},
    {"too big comes first, even with no list", true, false, false, false, 33,
     "CDataStorage: The new number is too big."},
    {"32 fits", true, true, false, true, 32, nullptr},
    {"tracker count on a controller storage", true, false, true, true, 5, "Delete controller data list first."},
    {"tracker count with no list", true, false, false, true, 5,
     "CDataStorage: Data storage has not been created yet."},
    {"tracker count with no mutex", true, true, false, false, 5, "CDataStorage: Mutex has not been set up yet."},
    {"no mutex is found before zero", true, true, false, false, 0, "CDataStorage: Mutex has not been set up yet."},
    {"tracker count zero", true, true, false, true, 0, "CDataStorage: the number of data is zero."},
    {"controller 33 is too big", false, false, true, true, 33, "CDataStorage: The new number is too big."},
    {"controller count on a tracker storage", false, true, false, true, 5,
     "CDataStorage: Delete tracker data list first."},
    {"controller count with no list", false, false, false, true, 5,
     "CDataStorage: Datt Storage has not been created yet."},
    {"controller count with no mutex", false, false, true, false, 5, "CDataStorage: Mutex has not been set up yet."},
    {"controller count zero", false, false, true, true, 0, "CDataStorage: the number of data is zero."},
    {"controller 1 fits", false, false, true, true, 1, nullptr},
};

TEST(StorageCounts, EveryCheckInOrderWithItsMessage) {
    for (const CountCase& c : kCountCases) {
        SCOPED_TRACE(c.what);
        TestStorages host;
        CDataStorage& s = host.tra;
        s.traData = c.trackerList ? host.traRecords : nullptr;
        s.conData = c.controllerList ? host.conRecords : nullptr;
        s.mutex = c.withMutex ? &host.traMutex : nullptr;
        host.traCount = 7;

        CaptureStdout out;
        const bool accepted = c.tracker ? s.setTraDataCount(c.n) : s.setConDataCount(c.n);
        if (c.message == nullptr) {
            EXPECT_TRUE(accepted);
            EXPECT_EQ(host.traCount, c.n);
            EXPECT_EQ(out.text(), "");
        } else {
            EXPECT_FALSE(accepted);
            EXPECT_EQ(host.traCount, 7u) << "a refused count leaves the count alone";
            EXPECT_EQ(out.text(), std::string("TraData: ERROR: ") + c.message + "\n");
        }
    }
}

TEST(StorageCounts, MissingHostPiecesAreRefusedWithoutCrashing) {
    TestStorages host;
    host.tra.logger = nullptr;
    host.tra.count = nullptr;
    CaptureStdout out;
    EXPECT_FALSE(host.tra.setTraDataCount(3));
    EXPECT_NE(out.text().find("CDataStorage: Data storage has not been created yet.\n"), std::string::npos);
    EXPECT_EQ(host.tra.getTraDataCount(), 0u);
    EXPECT_EQ(host.tra.getTraData(1), nullptr);

    host.tra.mutex = nullptr;
    out.clear();
    EXPECT_FALSE(host.tra.lock());
    EXPECT_FALSE(host.tra.unlock());
    EXPECT_NE(out.text().find("CDataStorage: Mutex has not been set up yet."), std::string::npos);
}

TEST(StorageEntries, LookUpOnlyEntriesInUseOfTheRightKind) {
    TestStorages host;
    host.conCount = 3;
    EXPECT_EQ(host.con.getConDataCount(), 3u);
    EXPECT_EQ(host.con.getConData(0), nullptr);
    EXPECT_EQ(host.con.getConData(1), &host.conRecords[0]);
    EXPECT_EQ(host.con.getConData(3), &host.conRecords[2]);
    EXPECT_EQ(host.con.getConData(4), nullptr);
    EXPECT_EQ(host.con.getTraData(1), nullptr);
    EXPECT_EQ(host.con.getTraDataCount(), 0u);

    host.traCount = 2;
    EXPECT_EQ(host.tra.getTraData(2), &host.traRecords[1]);
    EXPECT_EQ(host.tra.getTraData(3), nullptr);
    EXPECT_EQ(host.tra.getConData(1), nullptr);
    EXPECT_EQ(host.tra.getConDataCount(), 0u);
}

TEST(StorageEntries, HostCountAboveTheArrayNeverReachesPastIt) {
    TestStorages host;
    host.conCount = 40;
    EXPECT_EQ(host.con.getConData(32), &host.conRecords[31]);
    EXPECT_EQ(host.con.getConData(33), nullptr);
    EXPECT_EQ(host.con.getConData(40), nullptr);
}

// What a device does at initialisation: take the entries after those in use.
std::uint32_t claimControllers(CDataStorage& storage, std::uint32_t own) {
    EXPECT_TRUE(storage.lock());
    const std::uint32_t offset = storage.getConDataCount();
    EXPECT_TRUE(storage.setConDataCount(offset + own));
    EXPECT_TRUE(storage.unlock());
    return offset;
}

TEST(StorageClaims, DevicesTakeEntriesInTurn) {
    TestStorages host;
    EXPECT_EQ(claimControllers(host.con, 1), 0u);
    EXPECT_EQ(claimControllers(host.con, 2), 1u);
    EXPECT_EQ(host.conCount, 3u);
    EXPECT_EQ(host.con.getConData(2), &host.conRecords[1]);
    EXPECT_EQ(host.con.getConData(3), &host.conRecords[2]);
}

TEST(StorageClaims, DevicesOnTheirOwnThreadsNeverShareAnEntry) {
    TestStorages host;
    constexpr std::uint32_t kDevices = 16;
    std::uint32_t offsets[kDevices] = {};
    std::vector<std::thread> devices;
    for (std::uint32_t d = 0; d < kDevices; ++d) {
        devices.emplace_back([&host, &offsets, d] { offsets[d] = claimControllers(host.con, 2); });
    }
    for (std::thread& t : devices) t.join();

    EXPECT_EQ(host.conCount, 2 * kDevices);
    bool taken[CDataStorage::kMaxEntries] = {};
    for (std::uint32_t offset : offsets) {
        ASSERT_EQ(offset % 2, 0u);
        ASSERT_LT(offset, CDataStorage::kMaxEntries);
        EXPECT_FALSE(taken[offset]) << "two devices got offset " << offset;
        taken[offset] = true;
    }
}

}  // namespace
