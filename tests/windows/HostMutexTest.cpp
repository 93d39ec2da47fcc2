// The storages' mutex on Windows: a Win32 mutex the host created, waited on
// and released by the device's thread.
#include "CaptureStdout.h"
#include "SystemTextMatch.h"
#include "TestStorages.h"

#include "platform/SystemError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

TEST(Win32HostMutex, LockWaitsForTheHostToRelease) {
    TestStorages host;
    ASSERT_EQ(WaitForSingleObject(host.traLock.mutex, 0), WAIT_OBJECT_0);  // the host holds it
    std::atomic<bool> acquired{false};
    bool locked = false;
    bool unlocked = false;
    std::thread device([&] {
        locked = host.tra.lock();
        acquired = true;
        unlocked = host.tra.unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired.load());
    ASSERT_TRUE(ReleaseMutex(host.traLock.mutex));
    device.join();
    EXPECT_TRUE(locked);
    EXPECT_TRUE(unlocked);
}

TEST(Win32HostMutex, ReleasingAMutexNotHeldIsReportedWithTheSystemText) {
    TestStorages host;
    CaptureStdout out;
    EXPECT_FALSE(host.conMutex.unlock());
    EXPECT_TRUE(reportedWithSomeSystemText(out.text(), "ConMutex: ERROR: CMutexH: Unlocking mutex: "));
}

TEST(Win32HostMutex, MissingHandleIsReportedWithTheSystemText) {
    TestStorages host;
    host.conMutex.handle = nullptr;
    CaptureStdout out;
    EXPECT_FALSE(host.con.lock());
    EXPECT_TRUE(reportedWithSomeSystemText(out.text(), "ConMutex: ERROR: CMutexH: Locking mutex: "));
}

TEST(Win32HostMutex, AbandonedMutexIsReportedGivenBackAndStaysUsable) {
    TestStorages host;
    // A device thread that ends while holding the storage's mutex.
    bool locked = false;
    std::thread([&] { locked = host.con.lock(); }).join();
    ASSERT_TRUE(locked);

    CaptureStdout out;
    EXPECT_FALSE(host.con.lock());
    const std::string report = out.text();
    EXPECT_TRUE(reportedWithSomeSystemText(report, "ConMutex: ERROR: CMutexH: Locking mutex: "));
    // The report names the abandonment, not a stale code of an earlier call.
    EXPECT_NE(report, "ConMutex: ERROR: CMutexH: Locking mutex: " + platform::systemErrorText(ERROR_SUCCESS) + "\n");
    EXPECT_EQ(report, "ConMutex: ERROR: CMutexH: Locking mutex: " + platform::systemErrorText(ERROR_SEM_OWNER_DIED) + "\n");

    // Given back after the report: another thread gets it at once.
    EXPECT_TRUE(mutexIsFree(host.conLock.mutex)) << "the mutex must be released";
    EXPECT_TRUE(host.con.lock());
    EXPECT_TRUE(host.con.unlock());
}

TEST(Win32SystemError, TextsAreOneLineWithoutTheSystemsLineEnd) {
    for (platform::SystemErrorCode code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
                                           ERROR_NOT_OWNER, ERROR_SEM_OWNER_DIED}) {
        const std::string text = platform::systemErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << code << ": \"" << text << "\"";
        EXPECT_NE(text.back(), ' ') << code;
    }
    // A code the system has no text for still gives something to print.
    EXPECT_EQ(platform::systemErrorText(0x2000FFFFu), "Unknown error 536936447");
}

}  // namespace
