#include "PseudoTerminal.h"

#include "platform/SerialLine.h"
#include "platform/SystemError.h"
#include "platform/posix/LowLatency.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long millisecondsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

PortDcb eightNoneOne(std::uint32_t baud) {
    PortDcb dcb{};
    dcb.fBinary = 1;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    return dcb;
}

// A raw line open on a fresh pseudo-terminal, closed at the end.
class Line : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        line = platform::openSerialLine(pty.name().c_str());
        ASSERT_NE(line, platform::kInvalidSerialLine);
        ASSERT_TRUE(platform::setSerialState(line, eightNoneOne(9600)));
    }
    void TearDown() override {
        if (line != platform::kInvalidSerialLine) platform::closeSerialLine(line);
    }
    void useTimeouts(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant) {
        PortTimeouts t{};
        t.ReadIntervalTimeout = interval;
        t.ReadTotalTimeoutMultiplier = multiplier;
        t.ReadTotalTimeoutConstant = constant;
        ASSERT_TRUE(platform::setSerialTimeouts(line, t));
    }

    PseudoTerminal pty;
    platform::SerialHandle line = platform::kInvalidSerialLine;
    char buffer[16] = {};
    std::uint32_t got = 99;
};

TEST_F(Line, NoTimeoutsWaitForAllTheBytes) {
    useTimeouts(0, 0, 0);
    std::thread farEnd([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.send("ab", 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.send("c", 1);
    });
    EXPECT_TRUE(platform::readSerialLine(line, buffer, 3, got));
    farEnd.join();
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST_F(Line, ConstantTimeoutAloneBoundsTheRead) {
    useTimeouts(0, 0, 60);
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(platform::readSerialLine(line, buffer, 4, got));
    EXPECT_EQ(got, 0u);
    EXPECT_GE(millisecondsSince(start), 59);
}

TEST_F(Line, IntervalTimeoutEndsAReadOnceBytesStop) {
    useTimeouts(40, 0, 10000);
    ASSERT_TRUE(pty.send("xy", 2));
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(platform::readSerialLine(line, buffer, 10, got));
    EXPECT_EQ(got, 2u);
    EXPECT_LT(millisecondsSince(start), 5000) << "the gap after the bytes ends the read, not the total";
}

TEST_F(Line, NoWaitSettingReturnsWhatIsThere) {
    useTimeouts(portvalue::kNoWait, 0, 0);
    EXPECT_TRUE(platform::readSerialLine(line, buffer, 4, got));
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(pty.send("q", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(platform::readSerialLine(line, buffer, 4, got));
    EXPECT_EQ(got, 1u);
}

TEST_F(Line, BytesBeforeAHangUpAreNotLostToIt) {
    useTimeouts(0, 100, 0);
    ASSERT_TRUE(pty.send("z", 1));
    EXPECT_TRUE(platform::readSerialLine(line, buffer, 1, got));
    EXPECT_EQ(got, 1u);
    pty.hangUp();
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(platform::readSerialLine(line, buffer, 1, got));
    EXPECT_EQ(platform::lastSystemError(), static_cast<platform::SystemErrorCode>(ENXIO));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(millisecondsSince(start), 90) << "a hang-up is known at once, not after the time-out";
}

TEST_F(Line, SettingsReadBackAsSet) {
    PortDcb dcb = eightNoneOne(57600);
    dcb.ByteSize = 7;
    dcb.Parity = portvalue::kEvenParity;
    dcb.fParity = 1;
    dcb.StopBits = portvalue::kTwoStopBits;
    dcb.fOutX = 1;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    ASSERT_TRUE(platform::setSerialState(line, dcb));
    PortDcb back{};
    ASSERT_TRUE(platform::getSerialState(line, back));
    EXPECT_EQ(back.BaudRate, 57600u);
    // A pseudo-terminal always keeps 8 data bits and no parity generation.
    EXPECT_EQ(back.fParity, 1u);
    EXPECT_EQ(back.StopBits, portvalue::kTwoStopBits);
    EXPECT_EQ(back.fOutX, 1u);
    EXPECT_EQ(back.fInX, 0u);
    EXPECT_EQ(back.XonChar, 0x11);
    EXPECT_EQ(back.XoffChar, 0x13);
    EXPECT_EQ(back.DCBlength, sizeof(PortDcb));

    PortTimeouts t{1, 2, 3, 4, 5};
    ASSERT_TRUE(platform::setSerialTimeouts(line, t));
    PortTimeouts tBack{};
    ASSERT_TRUE(platform::getSerialTimeouts(line, tBack));
    EXPECT_EQ(tBack.ReadIntervalTimeout, 1u);
    EXPECT_EQ(tBack.WriteTotalTimeoutConstant, 5u);
}

TEST_F(Line, SettingsTheLineCannotTakeAreRefused) {
    PortDcb dcb = eightNoneOne(14400);
    EXPECT_FALSE(platform::setSerialState(line, dcb));
    EXPECT_EQ(platform::systemErrorText(platform::lastSystemError()), "Invalid argument");
    dcb = eightNoneOne(9600);
    dcb.ByteSize = 4;
    EXPECT_FALSE(platform::setSerialState(line, dcb));
    dcb = eightNoneOne(9600);
    dcb.Parity = 5;
    EXPECT_FALSE(platform::setSerialState(line, dcb));
    dcb = eightNoneOne(9600);
    dcb.StopBits = 3;
    EXPECT_FALSE(platform::setSerialState(line, dcb));
    // A rate the settings cannot name (0) keeps the line's own.
    dcb = eightNoneOne(0);
    EXPECT_TRUE(platform::setSerialState(line, dcb));
    PortDcb back{};
    ASSERT_TRUE(platform::getSerialState(line, back));
    EXPECT_EQ(back.BaudRate, 9600u);
}

TEST(LineHandles, NoLineIsABadHandleForEveryCall) {
    for (platform::SerialHandle none : {platform::kNoSerialLine, platform::kInvalidSerialLine}) {
        PortDcb dcb{};
        PortTimeouts t{};
        char byte = 0;
        std::uint32_t got = 7;
        EXPECT_FALSE(platform::getSerialState(none, dcb));
        EXPECT_FALSE(platform::setSerialState(none, dcb));
        EXPECT_FALSE(platform::getSerialTimeouts(none, t));
        EXPECT_FALSE(platform::setSerialTimeouts(none, t));
        EXPECT_FALSE(platform::readSerialLine(none, &byte, 1, got));
        EXPECT_EQ(got, 0u);
        EXPECT_FALSE(platform::closeSerialLine(none));
        EXPECT_EQ(platform::systemErrorText(platform::lastSystemError()), "Bad file descriptor");
    }
}

TEST(LineHandles, ANonTerminalOpensButHasNoLineSettings) {
    const platform::SerialHandle line = platform::openSerialLine("/dev/null");
    ASSERT_NE(line, platform::kInvalidSerialLine);
    PortDcb dcb{};
    EXPECT_FALSE(platform::getSerialState(line, dcb));
    EXPECT_EQ(platform::systemErrorText(platform::lastSystemError()), "Inappropriate ioctl for device");
    EXPECT_TRUE(platform::closeSerialLine(line));
}

// A UART driver's flags as the low-latency mode sees them, through the seam.
struct FakeDriver {
    bool offered = true;     // the driver keeps serial flags
    bool settable = true;    // and lets this user change them
    int flags = 0;
    std::vector<int> writes;
};
FakeDriver driver;

const platform::SerialFlagsAccess kFakeAccess{
    [](int, int& flags) {
        if (!driver.offered) errno = ENOTTY;
        flags = driver.flags;
        return driver.offered;
    },
    [](int, int flags) {
        if (!driver.settable) {
            errno = EPERM;
            return false;
        }
        driver.flags = flags;
        driver.writes.push_back(flags);
        return true;
    },
};

TEST(LowLatencyMode, TurnedOnWhereOfferedAndTheFoundFlagsPutBack) {
    constexpr int kOther = 0x0040;  // some flag of the driver's own, kept throughout
    constexpr int kOn = platform::kLowLatencyFlag;
    const struct {
        const char* what;
        FakeDriver before;
        int whileOpen;
        std::vector<int> writes;  // all writes, at open and at close
    } cases[] = {
        {"a UART with the mode off", {true, true, kOther, {}}, kOther | kOn, {kOther | kOn, kOther}},
        {"a UART with the mode already on", {true, true, kOther | kOn, {}}, kOther | kOn, {}},
        {"a driver without serial flags (a pseudo-terminal)", {false, true, 0, {}}, 0, {}},
        {"a driver that refuses the change", {true, false, kOther, {}}, kOther, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        driver = c.before;
        platform::LowLatencyMode mode(kFakeAccess);
        errno = EINTR;
        mode.turnOn(3);
        EXPECT_EQ(errno, EINTR) << "the mode leaves no error behind";
        EXPECT_EQ(driver.flags, c.whileOpen);
        mode.putBack(3);
        mode.putBack(3);
        EXPECT_EQ(errno, EINTR);
        EXPECT_EQ(driver.flags, c.before.flags);
        EXPECT_EQ(driver.writes, c.writes);
    }
}

TEST(LowLatencyMode, APseudoTerminalOffersNoneAndItsLineWorksAsEver) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    int flags = 0;
    EXPECT_FALSE(platform::systemSerialFlags().get(pty.line(), flags));
    errno = 0;
    const platform::SerialHandle line = platform::openSerialLine(pty.name().c_str());
    ASSERT_NE(line, platform::kInvalidSerialLine);
    EXPECT_EQ(errno, 0) << "nothing is left to report";
    ASSERT_TRUE(platform::setSerialState(line, eightNoneOne(9600)));
    PortTimeouts t{};
    t.ReadTotalTimeoutMultiplier = 100;
    ASSERT_TRUE(platform::setSerialTimeouts(line, t));
    ASSERT_TRUE(pty.send("w", 1));
    char byte = 0;
    std::uint32_t got = 0;
    EXPECT_TRUE(platform::readSerialLine(line, &byte, 1, got));
    EXPECT_EQ(got, 1u);
    EXPECT_TRUE(platform::closeSerialLine(line));
}

TEST(SystemErrorText, IsTheSystemsOwnWording) {
    EXPECT_EQ(platform::systemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(platform::systemErrorText(EBUSY), "Device or resource busy");
    EXPECT_FALSE(platform::systemErrorText(99999).empty());
}

}  // namespace
