// The host clears its keep-running flag from another thread while the wand
// is in the middle of a long record body: the call ends within one read
// time-out of the flag going to zero, with -1 and nothing published.
#include "WandHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// One read time-out of the wand's line, and room for a loaded machine (or an
// emulator) to schedule the threads. A device that ignores the flag takes
// seconds here: until the far end stops sending.
constexpr Milliseconds kReadTimeOut{100};
constexpr Milliseconds kSchedulingAllowance{400};

class KeepRunning : public ::testing::Test {
protected:
    void SetUp() override {
        host.withPortAnd({});
        ASSERT_EQ(host.start(), 1) << host.output();
        host.send({0x80, 0x01, 0x10, 0x8F});
        ASSERT_EQ(host.recv(), 1);
        ASSERT_TRUE(host.button(1, 1));
    }

    // Runs one call while the flag is cleared `after` it began; the time from
    // clearing to the call's return.
    Milliseconds callWithFlagClearedAfter(Milliseconds after, std::int32_t& result) {
        std::atomic<long long> clearedAt{0};
        std::thread hostThread([&] {
            std::this_thread::sleep_for(after);
            clearedAt = Clock::now().time_since_epoch().count();
            __atomic_store_n(&host.runFlag, 0, __ATOMIC_RELAXED);
        });
        result = host.recv();
        const Clock::time_point returned = Clock::now();
        hostThread.join();
        return std::chrono::duration_cast<Milliseconds>(returned - Clock::time_point(Clock::duration(clearedAt.load())));
    }

    WandHost host;
};

TEST_F(KeepRunning, ClearedWhileBodyBytesKeepComingEndsTheCall) {
    // Far more than the body buffer holds, then a byte every 2 ms for up to 5 s.
    std::vector<std::uint8_t> start{0x80};
    start.insert(start.end(), 1500, 0x13);
    host.send(start);
    std::atomic<bool> sending{true};
    std::thread wand([&] {
        for (int i = 0; i < 2500 && sending.load(); ++i) {
            host.line.send("\x13", 1);
            std::this_thread::sleep_for(Milliseconds(2));
        }
    });
    std::int32_t result = 0;
    const Milliseconds late = callWithFlagClearedAfter(Milliseconds(300), result);
    sending = false;
    wand.join();
    EXPECT_EQ(result, -1);
    EXPECT_LE(late.count(), (kReadTimeOut + kSchedulingAllowance).count());
    // The cut record changed nothing.
    EXPECT_TRUE(host.masksClear());
    EXPECT_TRUE(host.button(1, 1));
    EXPECT_FALSE(host.button(1, 2));
}

TEST_F(KeepRunning, ClearedWhileTheBodyWaitsForItsNextByteEndsTheCall) {
    // Half a body, then silence: the call is blocked in a read when the flag goes.
    host.send({0x80, 0x13});
    std::int32_t result = 0;
    const Milliseconds late = callWithFlagClearedAfter(Milliseconds(40), result);
    EXPECT_EQ(result, -1);
    EXPECT_LE(late.count(), (kReadTimeOut + kSchedulingAllowance).count());
    EXPECT_TRUE(host.masksClear());
    EXPECT_TRUE(host.button(1, 1));
}

TEST_F(KeepRunning, SetAgainTheNextCallReadsOn) {
    host.send({0x80, 0x13});
    std::int32_t result = 0;
    callWithFlagClearedAfter(Milliseconds(40), result);
    ASSERT_EQ(result, -1);
    __atomic_store_n(&host.runFlag, 1, __ATOMIC_RELAXED);
    // The rest of the cut record is skipped while hunting for the next header.
    host.send({0x00, 0x8F, 0x80, 0x00, 0x0C, 0x8F});
    EXPECT_EQ(host.recv(), 1);
    EXPECT_FALSE(host.button(1, 1));
    EXPECT_TRUE(host.button(1, 6));
}

}  // namespace
