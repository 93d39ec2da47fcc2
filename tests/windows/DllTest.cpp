// quorlix.dll as a Windows host drives it: loaded with LoadLibraryA, fed
// option lines and storages with Win32 mutexes, reading the wand on a COM port.
#include "ComPair.h"
#include "TextContains.h"
#include "TestStorages.h"
#include "PluginDll.h"
#include "ProcessOutput.h"
#include "TestOptions.h"

#include "storage/ByteOrder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kButton1 = {0x80, 0x01, 0x10, 0x8F};
const Bytes kNothingPressed = {0x80, 0x00, 0x00, 0x8F};
const Bytes kButton10 = {0x80, 0x06, 0x00, 0x8F};  // raises valuator 1

// The system's text after a message prefix: present, one line, no CR.
::testing::AssertionResult systemTextFollows(const std::string& output, const std::string& prefix) {
    const std::string::size_type at = output.find(prefix);
    if (at == std::string::npos) return ::testing::AssertionFailure() << "no \"" << prefix << "\" in:\n" << output;
    const std::string::size_type end = output.find('\n', at);
    if (end == std::string::npos) return ::testing::AssertionFailure() << "line not ended:\n" << output;
    const std::string text = output.substr(at + prefix.size(), end - at - prefix.size());
    if (text.empty() || text.find('\r') != std::string::npos || output.compare(end, 2, "\n\n") == 0)
        return ::testing::AssertionFailure() << "system text \"" << text << "\" is not one clean line";
    return ::testing::AssertionSuccess();
}

bool button(const ConData& record, std::uint32_t b) { return ((record.buttons[(b - 1) / 8] >> ((b - 1) % 8)) & 1) != 0; }

// Bit n of a 4-byte change mask held in network order.
bool flagged(const std::uint8_t* mask, std::uint32_t n) { return ((mask[3 - (n - 1) / 8] >> ((n - 1) % 8)) & 1) != 0; }

TEST(DllEntry, OnlyThePlainEntryPointNamesResolve) {
    PluginDll dll;
    ASSERT_NE(dll.module, nullptr) << "LoadLibraryA(quorlix.dll) failed, error " << GetLastError();
    EXPECT_TRUE(dll.ok());
    // Decorated or internal names would mean a host built for the plain ones finds nothing.
    for (const char* name : {"_createDev", "createDev@8", "_deleteDev", "DllMain", "DllMain@12"})
        EXPECT_EQ(GetProcAddress(dll.module, name), nullptr) << name;
    EXPECT_FALSE(dll.deleteDev(nullptr));
}

// One wand on the wand's COM port, with the host's storages and flag.
class DllWand : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dll.ok()) << "quorlix.dll or its entry points not found, error " << GetLastError();
        ASSERT_TRUE(wand.ok()) << wand.problem();
        ASSERT_TRUE(out.ok());
    }
    void TearDown() override {
        if (device != nullptr) {
            EXPECT_TRUE(dll.deleteDev(device));
        }
    }

    std::int32_t start(const std::vector<std::string>& lines) {
        for (std::size_t i = 0; i < lines.size(); ++i) options.line(static_cast<std::uint32_t>(i + 1), lines[i]);
        device = dll.createDev(options.list(), &logger);
        return device != nullptr ? device->init(&info) : -1;
    }
    std::int32_t startOnWandPort(std::vector<std::string> more = {}) {
        more.insert(more.begin(), std::string("port ") + compair::wandPort());
        return start(more);
    }
    std::int32_t receive() { return device->recvData(masks, 0); }
    bool send(const Bytes& bytes) { return wand.send(bytes); }

    PluginDll dll;
    compair::FarEnd wand;
    ProcessOutput out;
    TestStorages storages;
    CLogH logger = quietLogger("HOST");
    TestOptions options{"wand"};
    std::int32_t runFlag = 1;
    std::uint8_t masks[8] = {};
    InitInfo info = storages.initInfo(&runFlag);
    CBase* device = nullptr;
};

TEST_F(DllWand, KeyRecordsFromTheComPortReachTheControllerEntry) {
    storages.conCount = 1;  // an earlier device's entry
    ASSERT_EQ(startOnWandPort(), 1) << out.text();
    EXPECT_TRUE(contains(out.text(), std::string("HOST: INFO: SERIAL PORT           : ") + compair::wandPort() + "\n"));
    EXPECT_EQ(storages.conCount, 2u);

    ASSERT_TRUE(send(kButton1));
    EXPECT_EQ(receive(), 1);
    const ConData& entry = storages.conRecords[1];
    EXPECT_TRUE(button(entry, 1));
    EXPECT_EQ(netToHost(entry.number), 2u);
    EXPECT_TRUE(flagged(masks + 4, 2));
    EXPECT_TRUE(mutexIsFree(storages.conLock.mutex)) << "the storage's mutex must be given back";

    ASSERT_TRUE(send(kButton1));  // unchanged: nothing published
    EXPECT_EQ(receive(), 1);
    EXPECT_FALSE(flagged(masks + 4, 2));

    ASSERT_TRUE(send(kNothingPressed));
    EXPECT_EQ(receive(), 1);
    EXPECT_FALSE(button(entry, 1));
    EXPECT_TRUE(flagged(masks + 4, 2));

    // The flag in the last word of the host's block ends a call at once.
    ASSERT_TRUE(send(kButton1));
    runFlag = 0;
    EXPECT_EQ(receive(), -1);
    EXPECT_FALSE(button(entry, 1));
    EXPECT_TRUE(mutexIsFree(storages.conLock.mutex));

    EXPECT_TRUE(device->stop());
    HANDLE again = compair::openPort(compair::wandPort());
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "stop must give the port back";
    if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
}

TEST_F(DllWand, HeldButtonRampsTheValuatorAndMovesTheEmulatedTracker) {
    storages.traCount = 2;
    ASSERT_EQ(startOnWandPort({"valrate 0.5", "emulatetracker 1 [1,0,0,0,0,0] 1 0 0 0 0 0"}), 1) << out.text();
    EXPECT_EQ(storages.traCount, 3u);
    const TraData& tracker = storages.traRecords[2];
    EXPECT_EQ(netToHost(tracker.number), 3u);
    EXPECT_EQ(netToHostSigned(tracker.x), 100000);

    EXPECT_EQ(receive(), 1);  // starts the emulation's clock
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(send(kButton10));
    std::int32_t last = netToHostSigned(tracker.x);
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(receive(), 1);
        EXPECT_TRUE(flagged(masks, 3));
        EXPECT_GT(netToHostSigned(tracker.x), last) << "call " << call;
        last = netToHostSigned(tracker.x);
    }
    EXPECT_EQ(netToHostSigned(storages.conRecords[0].valuators[0]), 1000);
    EXPECT_TRUE(mutexIsFree(storages.traLock.mutex));
    EXPECT_TRUE(mutexIsFree(storages.conLock.mutex));
}

TEST_F(DllWand, PortThatCannotOpenIsReportedWithTheSystemText) {
    EXPECT_EQ(start({"port com9"}), -1);
    EXPECT_TRUE(systemTextFollows(out.text(), "HOST: ERROR: CRS232H: Opening port com9: "));
}

TEST_F(DllWand, BusyPortIsRefusedUntilTheFirstWandStops) {
    if (!compair::portsAreExclusive()) GTEST_SKIP() << "this system lets two openers share a COM port";
    ASSERT_EQ(startOnWandPort(), 1) << out.text();
    TestOptions second;
    second.line(1, std::string("port ") + compair::wandPort());
    CBase* other = dll.createDev(second.list(), &logger);
    ASSERT_NE(other, nullptr);
    out.clear();
    EXPECT_EQ(other->init(&info), -1);
    EXPECT_TRUE(systemTextFollows(out.text(), std::string("HOST: ERROR: CRS232H: Opening port ") + compair::wandPort() + ": "));

    EXPECT_TRUE(device->stop());
    EXPECT_EQ(other->init(&info), 1) << out.text();
    EXPECT_TRUE(dll.deleteDev(other));
}

TEST_F(DllWand, LogLinesNameTheCallingThread) {
    logger.showThreadId = true;
    DWORD caller = 0;
    std::int32_t result = 0;
    std::thread hostThread([&] {
        caller = GetCurrentThreadId();
        result = startOnWandPort();
    });
    hostThread.join();
    EXPECT_EQ(result, 1);
    ASSERT_NE(caller, GetCurrentThreadId());
    EXPECT_TRUE(contains(out.text(), "HOST[" + std::to_string(caller) + "]: INFO: DEVICE NAME           : wand\n"))
        << out.text();
}

}  // namespace
