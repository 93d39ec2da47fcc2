// A host thread dies holding a storage's mutex while the wand waits for it
// to publish: the wand reports it, publishes nothing in that call, leaves the
// mutex usable for everyone, and publishes on the next call.
#include "DeadOwner.h"
#include "TextContains.h"
#include "WandHost.h"
#include "storage/ByteOrder.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Holds the mutex from its own thread, then ends without unlocking it once
// told to, while the device is (very likely) already waiting.
class DyingHolder {
public:
    explicit DyingHolder(pthread_mutex_t& mutex)
        : thread_([this, &mutex] {
              pthread_mutex_lock(&mutex);
              holding_ = true;
              while (!die_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }) {
        while (!holding_.load()) std::this_thread::yield();
    }
    ~DyingHolder() { join(); }

    void dieAfter(std::chrono::milliseconds delay) {
        killer_ = std::thread([this, delay] {
            std::this_thread::sleep_for(delay);
            die_ = true;
        });
    }
    void join() {
        if (killer_.joinable()) killer_.join();
        if (thread_.joinable()) thread_.join();
    }

private:
    std::atomic<bool> holding_{false};
    std::atomic<bool> die_{false};
    std::thread thread_;
    std::thread killer_;
};

// The host can take the mutex again straight away.
bool usable(pthread_mutex_t& mutex) {
    if (pthread_mutex_trylock(&mutex) != 0) return false;
    pthread_mutex_unlock(&mutex);
    return true;
}

class AbandonedMutex : public ::testing::Test {
protected:
    void SetUp() override {
        if (!deadOwnersAreDetected()) GTEST_SKIP() << "this runtime does not report a dead mutex owner";
    }
    WandHost host;
};

TEST_F(AbandonedMutex, ControllerStorageHolderDiesDuringPublication) {
    host.withPortAnd({});
    ASSERT_EQ(host.start(), 1) << host.output();
    ASSERT_EQ(host.recv(), 1);
    host.clearOutput();

    host.send({0x80, 0x01, 0x10, 0x8F});
    DyingHolder holder(host.storages.conLock.mutex);
    holder.dieAfter(std::chrono::milliseconds(150));
    EXPECT_EQ(host.recv(), -1);
    holder.join();
    EXPECT_TRUE(contains(host.output(), "ConMutex: ERROR: CMutexH: Locking mutex: ")) << host.output();
    EXPECT_FALSE(host.controllerChanged(1));
    EXPECT_FALSE(host.button(1, 1));
    EXPECT_TRUE(usable(host.storages.conLock.mutex));

    // The record still differs from the last one published: the next call publishes it.
    host.clearOutput();
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.controllerChanged(1));
    EXPECT_TRUE(host.button(1, 1));
    host.send({0x80, 0x13, 0x00, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.button(1, 2));
    EXPECT_EQ(host.output(), "");
    EXPECT_TRUE(usable(host.storages.conLock.mutex));
}

TEST_F(AbandonedMutex, TrackerStorageHolderDiesDuringPublication) {
    host.withPortAnd({"valrate 0.5", "emulatetracker 1 [0,0,0,0,0,0] 1 0 0 0 0 0"});
    ASSERT_EQ(host.start(), 1) << host.output();
    // Button 10 held: valuator 1 at +1 drives X from here on.
    host.send({0x80, 0x06, 0x00, 0x8F});
    ASSERT_EQ(host.recv(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(host.recv(), 1);
    const std::int32_t xBefore = netToHostSigned(host.traEntry(1).x);
    host.clearOutput();

    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    DyingHolder holder(host.storages.traLock.mutex);
    holder.dieAfter(std::chrono::milliseconds(150));
    EXPECT_EQ(host.recv(), -1);
    holder.join();
    EXPECT_TRUE(contains(host.output(), "TraMutex: ERROR: CMutexH: Locking mutex: ")) << host.output();
    EXPECT_FALSE(host.trackerChanged(1));
    EXPECT_EQ(netToHostSigned(host.traEntry(1).x), xBefore);
    EXPECT_TRUE(usable(host.storages.traLock.mutex));

    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.trackerChanged(1));
    EXPECT_GT(netToHostSigned(host.traEntry(1).x), xBefore);
    EXPECT_TRUE(usable(host.storages.traLock.mutex));
}

// A holder that died before the wand even asked: the same report, the same recovery.
TEST_F(AbandonedMutex, HolderDiedBeforeTheCall) {
    host.withPortAnd({});
    ASSERT_EQ(host.start(), 1) << host.output();
    ASSERT_EQ(host.recv(), 1);
    abandonMutex(host.storages.conLock.mutex);
    host.clearOutput();
    host.send({0x80, 0x01, 0x10, 0x8F});
    EXPECT_EQ(host.recv(), -1);
    EXPECT_TRUE(contains(host.output(), "ConMutex: ERROR: CMutexH: Locking mutex: ")) << host.output();
    EXPECT_EQ(host.recv(), 1);
    EXPECT_TRUE(host.button(1, 1));
}

}  // namespace
