// The storages' mutex on Windows: a Win32 mutex the host created, waited on
// and released by the device's thread.
#include "CaptureStdout.h"
#include "HostStorages.h"

#include "platform/SystemError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

// "<logger>: ERROR: <prefix><system text>\n" with some text, whatever its wording.
::testing::AssertionResult reportedWithSystemText(const std::string& output, const std::string& head) {
    if (output.compare(0, head.size(), head) != 0 || output.size() < head.size() + 2 || output.back() != '\n')
        return ::testing::AssertionFailure() << "got \"" << output << "\"";
    const std::string text = output.substr(head.size(), output.size() - head.size() - 1);
    if (text.find_first_of("\r\n") != std::string::npos)
        return ::testing::AssertionFailure() << "system text \"" << text << "\" is not one clean line";
    return ::testing::AssertionSuccess();
}

TEST(Win32HostMutex, LockWaitsForTheHostToRelease) {
    HostStorages host;
    ASSERT_EQ(WaitForSingleObject(host.traLock, 0), WAIT_OBJECT_0);  // the host holds it
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
    ASSERT_TRUE(ReleaseMutex(host.traLock));
    device.join();
    EXPECT_TRUE(locked);
    EXPECT_TRUE(unlocked);
}

TEST(Win32HostMutex, ReleasingAMutexNotHeldIsReportedWithTheSystemText) {
    HostStorages host;
    CaptureStdout out;
    EXPECT_FALSE(host.conMutex.unlock());
    EXPECT_TRUE(reportedWithSystemText(out.text(), "ConMutex: ERROR: CMutexH: Unlocking mutex: "));
}

TEST(Win32HostMutex, MissingHandleIsReportedWithTheSystemText) {
    HostStorages host;
    host.conMutex.handle = nullptr;
    CaptureStdout out;
    EXPECT_FALSE(host.con.lock());
    EXPECT_TRUE(reportedWithSystemText(out.text(), "ConMutex: ERROR: CMutexH: Locking mutex: "));
}

TEST(Win32HostMutex, AbandonedMutexIsReportedGivenBackAndStaysUsable) {
    HostStorages host;
    // A device thread that ends while holding the storage's mutex.
    bool locked = false;
    std::thread([&] { locked = host.con.lock(); }).join();
    ASSERT_TRUE(locked);

    CaptureStdout out;
    EXPECT_FALSE(host.con.lock());
    const std::string report = out.text();
    EXPECT_TRUE(reportedWithSystemText(report, "ConMutex: ERROR: CMutexH: Locking mutex: "));
    // The report names the abandonment, not a stale code of an earlier call.
    EXPECT_NE(report, "ConMutex: ERROR: CMutexH: Locking mutex: " + platform::systemErrorText(ERROR_SUCCESS) + "\n");
    EXPECT_EQ(report, "ConMutex: ERROR: CMutexH: Locking mutex: " + platform::systemErrorText(ERROR_SEM_OWNER_DIED) + "\n");

    // Given back after the report: another thread gets it at once.
    EXPECT_TRUE(mutexIsFree(host.conLock)) << "the mutex must be released";
    EXPECT_TRUE(host.con.lock());
    EXPECT_TRUE(host.con.unlock());
}

TEST(Win32HostMutex, ClaimingEntriesFollowsEarlierDevices) {
    HostStorages host;
    host.conCount = 1;
    ASSERT_TRUE(host.con.lock());
    const std::uint32_t offset = host.con.getConDataCount();
    EXPECT_TRUE(host.con.setConDataCount(offset + 2));
    EXPECT_EQ(host.con.getConData(3), &host.conRecords[2]);
    EXPECT_EQ(host.con.getConData(4), nullptr);
    EXPECT_TRUE(host.con.unlock());
    EXPECT_EQ(host.conCount, 3u);
    EXPECT_TRUE(mutexIsFree(host.conLock));
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
