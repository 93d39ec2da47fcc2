// Storages that already hold 32 entries of other devices: the wand claims
// nothing beyond them, says so, and never writes past the last entry.
#include "WandHost.h"
#include "TextContains.h"
#include "storage/ByteOrder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The host's 32 records of one kind, each filled with a mark of its own,
// followed by one more record as a guard: whatever the device writes past the
// last entry lands there.
template <class Record>
class MarkedBlock {
public:
    static constexpr std::uint32_t kEntries = 32;

    MarkedBlock() : records_(kEntries + 1) {
        for (std::uint32_t i = 0; i <= kEntries; ++i) std::memset(&records_[i], static_cast<int>(0xA0 + i), sizeof(Record));
        copy_ = records_;
    }
    Record* entries() { return records_.data(); }
    // Entries and guard exactly as the host left them.
    bool untouched() const { return std::memcmp(records_.data(), copy_.data(), records_.size() * sizeof(Record)) == 0; }

private:
    std::vector<Record> records_;
    std::vector<Record> copy_;
};

class FullStorage : public ::testing::Test {
protected:
    void fillControllers() {
        host.storages.con.conData = controllers.entries();
        host.storages.conCount = 32;
    }
    void fillTrackers() {
        host.storages.tra.traData = trackers.entries();
        host.storages.traCount = 32;
    }

    WandHost host;
    MarkedBlock<ConData> controllers;
    MarkedBlock<TraData> trackers;
};

TEST_F(FullStorage, TrackerStorageFullFailsInitWithoutWriting) {
    fillTrackers();
    host.withPortAnd({"emulatetracker 1 [1,2,3,0,0,0] 1 2 0 0 0 0"});
    EXPECT_EQ(host.start(), -1);
    const std::string out = host.output();
    EXPECT_TRUE(contains(out, "TraData: ERROR: CDataStorage: The new number is too big.\n")) << out;
    EXPECT_TRUE(contains(out, "HOST: ERROR: CQuorlix: Could not find tracker data entry.\n")) << out;
    EXPECT_LT(out.find("The new number is too big."), out.find("Could not find tracker data entry."));
    EXPECT_EQ(host.storages.traCount, 32u);
    EXPECT_TRUE(trackers.untouched());
    // init stopped before the controller claim and before the port.
    EXPECT_EQ(host.storages.conCount, 0u);
    EXPECT_FALSE(contains(out, "DEVICE NAME")) << out;
}

// The count is refused, yet init goes on (the claim's result is not the
// device's to judge); every publication then reports the missing entry.
TEST_F(FullStorage, ControllerStorageFullIsReportedAtInitAndOnEveryPublication) {
    fillControllers();
    host.withPortAnd({"valrate 0.5"});
    EXPECT_EQ(host.start(), 1);
    EXPECT_TRUE(contains(host.output(), "ConData: ERROR: CDataStorage: The new number is too big.\n")) << host.output();
    EXPECT_EQ(host.storages.conCount, 32u);

    const std::vector<std::uint8_t> records[] = {{0x80, 0x01, 0x10, 0x8F}, {0x80, 0x06, 0x00, 0x8F}, {0x80, 0x8F}};
    for (const auto& record : records) {
        host.clearOutput();
        host.send(record);
        EXPECT_EQ(host.recv(), -1);
        EXPECT_EQ(host.output(), "HOST: ERROR: CQuorlix: ConData storage not found\n");
        // Entry 33 has no bit in the mask.
        EXPECT_TRUE(host.masksClear());
    }
    EXPECT_TRUE(controllers.untouched());
    EXPECT_EQ(host.storages.conCount, 32u);
}

TEST_F(FullStorage, BothFullWithEmulationTouchesNeither) {
    fillControllers();
    fillTrackers();
    host.withPortAnd({"emulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0"});
    EXPECT_EQ(host.start(), -1);
    EXPECT_TRUE(controllers.untouched());
    EXPECT_TRUE(trackers.untouched());
    EXPECT_EQ(host.storages.conCount, 32u);
    EXPECT_EQ(host.storages.traCount, 32u);
}

// One entry left: the wand takes entry 32, the last one, and only that.
TEST_F(FullStorage, LastFreeEntryIsTakenAndNothingBeyond) {
    host.storages.con.conData = controllers.entries();
    host.storages.conCount = 31;
    host.storages.tra.traData = trackers.entries();
    host.storages.traCount = 31;
    host.withPortAnd({"valrate 0.5", "emulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0"});
    ASSERT_EQ(host.start(), 1) << host.output();
    EXPECT_EQ(host.storages.conCount, 32u);
    EXPECT_EQ(host.storages.traCount, 32u);
    const ConData before = controllers.entries()[31];
    host.send({0x80, 0x06, 0x00, 0x8F});
    EXPECT_EQ(host.recv(), 1) << host.output();
    EXPECT_TRUE(host.controllerChanged(32));
    EXPECT_NE(std::memcmp(&before, &controllers.entries()[31], sizeof before), 0);
    EXPECT_EQ(netToHost(controllers.entries()[31].number), 32u);
    EXPECT_EQ(netToHost(trackers.entries()[31].number), 32u);

    // Entries 1 to 31 and the guard are as the host left them.
    MarkedBlock<ConData> expectedControllers;
    MarkedBlock<TraData> expectedTrackers;
    EXPECT_EQ(std::memcmp(controllers.entries(), expectedControllers.entries(), 31 * sizeof(ConData)), 0);
    EXPECT_EQ(std::memcmp(&controllers.entries()[32], &expectedControllers.entries()[32], sizeof(ConData)), 0);
    EXPECT_EQ(std::memcmp(trackers.entries(), expectedTrackers.entries(), 31 * sizeof(TraData)), 0);
    EXPECT_EQ(std::memcmp(&trackers.entries()[32], &expectedTrackers.entries()[32], sizeof(TraData)), 0);
}

}  // namespace
