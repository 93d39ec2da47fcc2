#include "WandHost.h"
#include "TextContains.h"
#include "DeadOwner.h"
#include "storage/ByteOrder.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <cerrno>
#include <ctime>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A started wand on its pty; options beyond the port as given.
class Receive : public ::testing::Test {
protected:
    explicit Receive(std::int32_t debugLevel = 0) : host(debugLevel) {}
    void startWith(const std::vector<std::string>& lines) {
        host.withPortAnd(lines);
        ASSERT_EQ(host.start(), 1) << host.output();
        host.clearOutput();
    }
    void SetUp() override { startWith({}); }

    WandHost host;
};

// Each record in turn on one line: what the host then finds pressed.
TEST_F(Receive, WireRecordsDecodeToTheirButtons) {
    const struct {
        Bytes bytes;
        std::set<int> pressed;
    } records[] = {
        {{0x05, 0x8F, 0x80, 0x01, 0x10, 0x8F}, {1}},     // junk and a stray terminator skipped
        {{0x80, 0x13, 0x00, 0xFC}, {2, 3}},              // the other terminator
        {{0x80, 0x01, 0x10, 0x09, 0x00, 0x8F}, {1, 8}},  // pairs add up
        {{0x80, 0x00, 0x00, 0x8F}, {}},                  // reports nothing: all released
        {{0x80, 0x13, 0x00, 0x8F}, {2, 3}},
        {{0x80, 0x8F}, {}},                              // empty body
        {{0x81, 0x01, 0x10, 0x55, 0x66, 0x8F}, {1}},     // last two bytes dropped (would press 2)
        {{0x80, 0x13, 0x00, 0x13, 0x8F}, {2, 3}},        // odd trailing byte ignored
        {{0x81, 0x13, 0x8F}, {}},                        // trimmed below its extra bytes: empty
        {{0x80, 0x00, 0x00, 0x8F}, {}},                  // unchanged: not published
        {{0x80, 0x82, 0x00, 0x81, 0x18, 0x8F}, {1, 9}},  // header values inside a body are data
    };
    std::set<int> before{};
    for (const auto& record : records) {
        host.send(record.bytes);
        EXPECT_EQ(host.recv(), 1);
        EXPECT_EQ(pressed(host), record.pressed) << "record starting " << int(record.bytes[0]);
        EXPECT_EQ(host.controllerChanged(1), record.pressed != before || &record == &records[0]);
        before = record.pressed;
    }
}

TEST_F(Receive, OnlyTheFirst1024BodyBytesCountAndTheRestIsConsumed) {
    Bytes record{0x80};
    record.insert(record.end(), 1022, 0x00);
    record.push_back(0x13);  // bytes 1023 and 1024: buttons 2 and 3
    record.push_back(0x00);
    record.push_back(0x01);  // beyond the buffer: would press button 1
    record.push_back(0x10);
    record.insert(record.end(), 300, 0x07);
    record.push_back(0x8F);
    host.send(record);
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(pressed(host), (std::set<int>{2, 3}));
    // The next record starts right after the long one's terminator.
    host.send({0x80, 0x00, 0x0C, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(pressed(host), std::set<int>{6});
}

TEST_F(Receive, RecordCutOffByTheTimeOutIsDroppedWhole) {
    host.send({0x80, 0x01, 0x10, 0x8F});
    ASSERT_EQ(host.recv(), 1);
    host.send({0x80, 0x13, 0x00});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(pressed(host), std::set<int>{1});
}

TEST_F(Receive, SilentLineReturnsOneAndKeepsTheButtons) {
    host.send({0x80, 0x01, 0x10, 0x8F});
    ASSERT_EQ(host.recv(), 1);
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(pressed(host), std::set<int>{1});
    EXPECT_TRUE(host.masksClear());
}

TEST_F(Receive, FirstCallPublishesTheWholeRecord) {
    EXPECT_EQ(host.recv(), 1);  // silent line, nothing pressed
    EXPECT_TRUE(host.controllerChanged(1));
    const ConData& entry = host.conEntry(1);
    EXPECT_EQ(netToHost(entry.number), 1u);
    EXPECT_EQ(netToHost(entry.valuatorCount), 2u);
    EXPECT_EQ(netToHost(entry.buttonCount), 11u);
    EXPECT_EQ(netToHost(entry.valuatorOffset), 36u);
    EXPECT_EQ(netToHost(entry.buttonOffset), 44u);
    EXPECT_EQ(entry.buttonBytes, 4u);
    EXPECT_NE(entry.timeSec, 0);
}

TEST_F(Receive, UnchangedRecordPublishesNothingAndClearsTheMasks) {
    host.send({0x80, 0x01, 0x10, 0x8F});
    ASSERT_EQ(host.recv(), 1);
    ASSERT_TRUE(host.controllerChanged(1));
    host.storages.conRecords[0].timeSec = 0x5A5A5A5A;  // a mark the device must not overwrite
    host.masks[4] = host.masks[5] = host.masks[6] = host.masks[7] = 0xFF;
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.masksClear());
    EXPECT_EQ(host.storages.conRecords[0].timeSec, 0x5A5A5A5A);
}

TEST_F(Receive, LoweredStorageCountIsReportedAndStillFlagged) {
    ASSERT_EQ(host.recv(), 1);
    host.storages.conCount = 0;
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), -1);
    EXPECT_EQ(host.output(), "HOST: ERROR: CQuorlix: ConData storage not found\n");
    EXPECT_TRUE(host.controllerChanged(1));
    // The same values are not retried.
    host.clearOutput();
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(host.output(), "");
}

TEST_F(Receive, KeepRunningFlagZeroOnEntryReadsNothing) {
    host.send({0x80, 0x01, 0x10, 0x8F});
    host.masks[4] = 0xFF;
    host.runFlag = 0;
    EXPECT_EQ(host.recv(), -1);
    EXPECT_TRUE(host.masksClear());
    EXPECT_EQ(host.pending(), 4);
    host.runFlag = 1;
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(pressed(host), std::set<int>{1});
}

// Bytes keep coming, so only the flag can end the call.
void clearFlagWhileBytesFlow(WandHost& host, const Bytes& first, std::uint8_t filler) {
    host.send(first);
    std::atomic<bool> stop{false};
    std::atomic<bool> ranOut{false};
    std::thread wand([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stop.load()) {
            if (std::chrono::steady_clock::now() > end) {
                ranOut = true;
                return;
            }
            host.send({filler});
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        __atomic_store_n(&host.runFlag, 0, __ATOMIC_RELAXED);
    });
    EXPECT_EQ(host.recv(), -1);
    EXPECT_FALSE(ranOut.load());
    stop = true;
    stopper.join();
    wand.join();
}

TEST_F(Receive, KeepRunningFlagClearedWhileHuntingEndsTheCall) {
    clearFlagWhileBytesFlow(host, {}, 0x00);
}

TEST_F(Receive, KeepRunningFlagClearedInsideABodyEndsTheCall) {
    host.send({0x80, 0x01, 0x10, 0x8F});
    ASSERT_EQ(host.recv(), 1);
    clearFlagWhileBytesFlow(host, {0x80}, 0x13);
    EXPECT_EQ(pressed(host), std::set<int>{1});
}

TEST_F(Receive, HungUpLineFailsEveryCall) {
    host.line.hangUp();
    for (int call = 0; call < 3; ++call) {
        host.clearOutput();
        EXPECT_EQ(host.recv(), -1);
        EXPECT_TRUE(contains(host.output(), "HOST: ERROR: CQuorlix: Reading a byte failed.\n")) << host.output();
    }
}

TEST_F(Receive, AbandonedStorageMutexLeavesTheEntryAloneUntilTheNextCall) {
    if (!deadOwnersAreDetected()) GTEST_SKIP() << "this runtime does not report a dead mutex owner";
    ASSERT_EQ(host.recv(), 1);
    std::thread owner([&] { pthread_mutex_lock(&host.storages.conLock.mutex); });  // dies holding it
    owner.join();
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), -1);
    EXPECT_TRUE(contains(host.output(), "CMutexH: Locking mutex: ")) << host.output();
    EXPECT_FALSE(host.controllerChanged(1));
    EXPECT_FALSE(host.button(1, 1));
    // Nothing was published, so the next call does it.
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.controllerChanged(1));
    EXPECT_TRUE(host.button(1, 1));
}

TEST_F(Receive, HostWithoutMasksStillGetsItsRecord) {
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.device->recvData(nullptr, 0), 1);
    EXPECT_TRUE(host.button(1, 1));
}

TEST(ReceiveWithoutFlag, HostThatGaveNoFlagNeverStopsTheDevice) {
    WandHost host;
    host.info.runFlag = nullptr;
    host.withPortAnd({});
    ASSERT_EQ(host.start(), 1);
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.button(1, 1));
}

TEST(ReceiveAfterSecondInit, RebuildsThePartsAndKeepsWorking) {
    WandHost host;
    host.withPortAnd({});
    ASSERT_EQ(host.start(), 1);
    // The first port is closed and its parts freed (the leak checkers watch).
    ASSERT_EQ(host.device->init(&host.info), 1) << host.output();
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.controllerChanged(2));
}

TEST(InitOnAbandonedStorage, FailsWithoutTouchingTheCount) {
    if (!deadOwnersAreDetected()) GTEST_SKIP() << "this runtime does not report a dead mutex owner";
    WandHost host;
    host.storages.conCount = 2;
    std::thread([&] { pthread_mutex_lock(&host.storages.conLock.mutex); }).join();
    host.withPortAnd({});
    EXPECT_EQ(host.start(), -1);
    EXPECT_TRUE(contains(host.output(), "CMutexH: Locking mutex: ")) << host.output();
    EXPECT_EQ(host.storages.conCount, 2u);
}

TEST(ReceiveWithoutInit, FailsWithoutTouchingAnything) {
    WandHost host;
    host.options.line(1, "port /dev/quorlix-no-such-line");
    ASSERT_EQ(host.start(), -1);
    host.clearOutput();
    EXPECT_EQ(host.recv(), -1);
    EXPECT_EQ(host.output(), "");

    WandHost fresh;
    fresh.device = createDev(fresh.options.list(), &fresh.logger);
    EXPECT_EQ(fresh.recv(), -1);
}

TEST(ReceiveOnAnotherDevicesStorage, TakesTheNextEntryAndItsBit) {
    WandHost host;
    host.storages.conCount = 3;
    host.withPortAnd({});
    ASSERT_EQ(host.start(), 1);
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.controllerChanged(4));
    EXPECT_FALSE(host.controllerChanged(1));
    EXPECT_EQ(netToHost(host.conEntry(4).number), 4u);
    EXPECT_TRUE(host.button(4, 1));
    EXPECT_EQ(host.conEntry(1).valuatorCount, 0u);
}

class ReceiveDebug : public Receive {
protected:
    ReceiveDebug() : Receive(1) {}
};

TEST_F(ReceiveDebug, TracesTheCallDumpsTheKeysAndThePublication) {
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(host.output(),
              "HOST: DEBUG: CQuorlix: \"recvData\" called.\n"
              "HOST: DEBUG: CQuorlix: 0x10 0x01  _ _ _ 1 _ _ _ _    _ _ _ _ _ _ _ 1\n"
              "HOST: DEBUG: CQuorlix: ConData storage found\n");
    host.clearOutput();
    host.send({0x80, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(contains(host.output(),
                         "HOST: DEBUG: CQuorlix: 0x00 0x00  - - - - - - - -    - - - - - - - -\n"));
    host.clearOutput();
    host.send({0x81, 0x13, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(contains(host.output(),
                         "HOST: DEBUG: CQuorlix: 0x00 0x00  - - - - - - - -    - - - - - - - -\n"));
}

TEST_F(ReceiveDebug, TextRecordIsShownAndLeavesTheButtons) {
    host.send({0x80, 0x01, 0x10, 0x8F});
    ASSERT_EQ(host.recv(), 1);
    host.clearOutput();
    host.send({0x82, 'O', 'K', 0xFC});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(host.output(),
              "HOST: DEBUG: CQuorlix: \"recvData\" called.\n"
              "HOST: DEBUG: CQuorlix: text/ACK record: OK\n");
    EXPECT_EQ(pressed(host), std::set<int>{1});
}

TEST_F(ReceiveDebug, FullTextBodyIsShownUpToItsStoredLength) {
    Bytes record{0x82};
    record.insert(record.end(), 1100, 'A');
    record.push_back(0xFC);
    host.send(record);
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(contains(host.output(), "text/ACK record: " + std::string(1024, 'A') + "\n")) << host.output();
}

// Valuator values are checked as the host reads them: thousandths, truncated.
class Ramps : public Receive {
protected:
    void SetUp() override { startWith({"valrate 0.05"}); }

    std::vector<std::int32_t> run(const Bytes& record, int calls, std::uint32_t valuator) {
        std::vector<std::int32_t> values;
        for (int call = 0; call < calls; ++call) {
            host.send(record);
            EXPECT_EQ(host.recv(), 1);
            values.push_back(host.valuator(1, valuator));
        }
        return values;
    }
};

const Bytes kButton8 = keyRecord({0x09, 0x00});
const Bytes kButton9 = keyRecord({0x01, 0x08});
const Bytes kButton10 = keyRecord({0x06, 0x00});
const Bytes kNothing = keyRecord({0x00, 0x00});

TEST_F(Ramps, ValuatorOneRampsUpAndBackCallByCall) {
    EXPECT_EQ(run(kButton10, 22, 1),
              (std::vector<std::int32_t>{50, 100, 150, 200, 250, 300, 350, 400, 450, 500, 550,
                                         600, 650, 700, 750, 800, 850, 900, 950, 1000, 1000, 1000}));
    EXPECT_EQ(host.valuator(1, 2), 0);
    // Single-precision steps of 0.1 leave the value a hair under each tenth.
    EXPECT_EQ(run(kNothing, 12, 1), (std::vector<std::int32_t>{899, 799, 699, 599, 499, 399, 299, 199, 99, 0, 0, 0}));
}

TEST_F(Ramps, ValuatorTwoFollowsButtonsEightAndNine) {
    EXPECT_EQ(run(kButton8, 3, 2), (std::vector<std::int32_t>{50, 100, 150}));
    // Down from above 0 costs decrement + increment per call.
    EXPECT_EQ(run(kButton9, 3, 2), (std::vector<std::int32_t>{0, -50, -100}));
    EXPECT_EQ(host.valuator(1, 1), 0);
    EXPECT_TRUE(host.button(1, 9));
}

TEST_F(Ramps, HeldDirectionKeepsRampingOnASilentLine) {
    run(kButton8, 1, 2);
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(host.valuator(1, 2), 100);
    EXPECT_TRUE(host.controllerChanged(1));
    EXPECT_EQ(host.recv(), 1);
    EXPECT_EQ(host.valuator(1, 2), 150);
}

TEST_F(Ramps, ReleasingButtonEightLetsValuatorTwoReturn) {
    run(kButton8, 4, 2);
    EXPECT_EQ(run(kNothing, 3, 2), (std::vector<std::int32_t>{100, 0, 0}));
}

TEST_F(Ramps, BothDirectionsHeldKeepTheValue) {
    run(kButton8, 2, 2);
    EXPECT_EQ(run(keyRecord({0x09, 0x00, 0x01, 0x08}), 3, 2), (std::vector<std::int32_t>{100, 100, 100}));
}

class Emulation : public Receive {
protected:
    void SetUp() override {
        host.storages.traCount = 2;
        startWith({"valrate 0.5", "emulatetracker 1 [1,0,0,0,0,0] 1 0 0 0 0 0"});
    }
};

TEST_F(Emulation, HeldValuatorMovesTheTrackerEntry) {
    // The first call starts the emulation's clock at the initial pose, which
    // differs from the empty record last published.
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.trackerChanged(3));
    std::int32_t last = netToHostSigned(host.traEntry(3).x);
    EXPECT_EQ(last, 100000);

    // The emulation's clock counts milliseconds: let some pass between calls.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    host.send(kButton10);
    for (int call = 0; call < 4; ++call) {
        EXPECT_EQ(host.recv(), 1);  // after the record, a silent line: 100 ms each
        EXPECT_TRUE(host.trackerChanged(3));
        const std::int32_t x = netToHostSigned(host.traEntry(3).x);
        EXPECT_GT(x, last);
        last = x;
    }
    EXPECT_EQ(netToHost(host.traEntry(3).number), 3u);
    EXPECT_EQ(host.valuator(1, 1), 1000);
    // At most one unit per second.
    EXPECT_LT(last, 100000 + 200000);
}

TEST_F(Emulation, MissingTrackerEntryIsReported) {
    EXPECT_EQ(host.recv(), 1);
    host.storages.traCount = 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    host.send(kButton10);
    EXPECT_EQ(host.recv(), -1);
    EXPECT_TRUE(contains(host.output(), "HOST: ERROR: CQuorlix: TraData storage not found\n")) << host.output();
    EXPECT_FALSE(host.trackerChanged(3));
    // The controller record went out all the same.
    EXPECT_TRUE(host.controllerChanged(1));
}

}  // namespace
