#include "CaptureStdout.h"
#include "PseudoTerminal.h"
#include "TestOptions.h"
#include "WandLine.h"

#include "serial/CRS232H.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <termios.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

termios settingsOf(const PseudoTerminal& pty) {
    termios t{};
    EXPECT_EQ(tcgetattr(pty.line(), &t), 0);
    return t;
}

long microsecondsSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
}

long millisecondsSince(Clock::time_point start) { return microsecondsSince(start) / 1000; }

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()); }

    CLogH host = quietLogger("PORT");
    PseudoTerminal pty;
};

TEST_F(SerialPort, WandBytesArriveUnchanged) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    // Bytes a cooked terminal would eat or change: CR, XON/XOFF, ^C, ^D, NUL, DEL.
    const std::string sent("\x80\x01\x10\x8F\r\n\x11\x13\x03\x04\x00\x7F", 12);
    ASSERT_TRUE(pty.send(sent));

    std::string got;
    unsigned char byte = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(port.read(&byte, 1), 1);
        got.push_back(static_cast<char>(byte));
    }
    char rest[8] = {};
    ASSERT_EQ(port.read(rest, 8), 8);
    got.append(rest, 8);
    EXPECT_EQ(got, sent);
}

TEST_F(SerialPort, LinePutIntoRawEightNoneOneAtTheGivenRate) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    const termios t = settingsOf(pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(SerialPort, SilentLineTimesOutAfterTheReadTimeout) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    std::vector<long> times;
    for (int run = 0; run < 5; ++run) {
        unsigned char byte = 0;
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(port.read(&byte, 1), 0);
        times.push_back(microsecondsSince(start));
    }
    std::sort(times.begin(), times.end());
    const long median = times[times.size() / 2];
    RecordProperty("silent_one_byte_read_median_us", static_cast<int>(median));
    EXPECT_GE(times.front(), 99000) << "a time-out must not come early";
    EXPECT_LT(median, 1000000) << "100 ms expected";
}

TEST_F(SerialPort, PartialReadEndsAtTheTotalTimeout) {
    CRS232H port(&host);
    PortAttributes a = wandAttributes();
    a.timeouts.ReadTotalTimeoutMultiplier = 20;
    a.timeouts.ReadTotalTimeoutConstant = 100;
    ASSERT_TRUE(port.openPort(pty.name().c_str()));
    ASSERT_TRUE(port.setAttributes(&a));
    ASSERT_TRUE(pty.send("\x80", 1));
    char bytes[5] = {};
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.read(bytes, 5), 1);
    const long elapsed = millisecondsSince(start);
    EXPECT_GE(elapsed, 199) << "20 ms x 5 + 100 ms";
    EXPECT_LT(elapsed, 2000);
}

TEST_F(SerialPort, HangUpFailsTheReadInsteadOfTimingOut) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    pty.hangUp();
    CaptureStdout out;
    unsigned char byte = 0;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(port.read(&byte, 1), -1);
    const std::string line = "PORT: ERROR: CRS232H: Reading from " + pty.name() + ": No such device or address\n";
    EXPECT_EQ(out.text(), line + line + line);

    // A dead line cannot take its old settings back; it is closed all the same.
    out.clear();
    EXPECT_FALSE(port.closePort());
    EXPECT_EQ(out.text(), "PORT: ERROR: CRS232H: Setting attribute(DCB) to " + pty.name() + ": Input/output error\n");
    out.clear();
    EXPECT_FALSE(port.closePort());
    EXPECT_EQ(out.text(), "");
}

TEST_F(SerialPort, HangUpEndsEvenAReadWithoutTimeout) {
    CRS232H port(&host);
    PortAttributes a = wandAttributes();
    a.timeouts = PortTimeouts{};
    ASSERT_TRUE(port.openPort(pty.name().c_str()));
    ASSERT_TRUE(port.setAttributes(&a));
    pty.hangUp();
    CaptureStdout out;
    unsigned char byte = 0;
    EXPECT_EQ(port.read(&byte, 1), -1);
    port.closePort();
}

TEST_F(SerialPort, ClosePutsBackTheSettingsFoundAtOpen) {
    termios before = settingsOf(pty);
    before.c_lflag |= ICANON | ECHO;
    before.c_cflag = (before.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
    cfsetispeed(&before, B4800);
    cfsetospeed(&before, B4800);
    ASSERT_EQ(tcsetattr(pty.line(), TCSANOW, &before), 0);
    before = settingsOf(pty);

    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    const termios during = settingsOf(pty);
    ASSERT_EQ(cfgetospeed(&during), static_cast<speed_t>(B9600));
    EXPECT_TRUE(port.closePort());

    const termios after = settingsOf(pty);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
}

TEST_F(SerialPort, DestructorClosesSoTheLineCanBeOpenedAgain) {
    const termios before = settingsOf(pty);
    {
        CRS232H port(&host);
        ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    }
    EXPECT_EQ(settingsOf(pty).c_lflag, before.c_lflag);
    CRS232H again(&host);
    EXPECT_TRUE(again.openPort(pty.name().c_str()));
}

TEST_F(SerialPort, SecondOpenerIsRefusedUntilTheFirstCloses) {
    CRS232H first(&host);
    CRS232H second(&host);
    ASSERT_TRUE(first.openPort(pty.name().c_str()));
    {
        CaptureStdout out;
        EXPECT_FALSE(second.openPort(pty.name().c_str()));
        EXPECT_EQ(out.text(), "PORT: ERROR: CRS232H: Opening port " + pty.name() + ": Device or resource busy\n");
    }
    EXPECT_TRUE(first.closePort());
    EXPECT_TRUE(second.openPort(pty.name().c_str()));
}

TEST_F(SerialPort, MissingPortIsReportedByTheNameAsGiven) {
    CRS232H port(&host);
    CaptureStdout out;
    EXPECT_FALSE(port.openPort("/dev/quorlix-no-such-port"));
    EXPECT_FALSE(port.openPort("quorlixNoSuchPort"));
    EXPECT_EQ(out.text(),
              "PORT: ERROR: CRS232H: Opening port /dev/quorlix-no-such-port: No such file or directory\n"
              "PORT: ERROR: CRS232H: Opening port quorlixNoSuchPort: No such file or directory\n");
    out.clear();
    // After a failed open there is no line: closing does nothing and says nothing.
    EXPECT_FALSE(port.closePort());
    EXPECT_EQ(out.text(), "");
}

TEST_F(SerialPort, NameLimitIs255Characters) {
    CRS232H port(&host);
    CaptureStdout out;
    const std::string longest = "/tmp/" + std::string(250, 'n');
    EXPECT_FALSE(port.openPort(longest.c_str()));
    EXPECT_EQ(out.text(), "PORT: ERROR: CRS232H: Opening port " + longest + ": No such file or directory\n");
    out.clear();
    EXPECT_FALSE(port.openPort((longest + "n").c_str()));
    EXPECT_FALSE(port.openPort(std::string(300, 'n').c_str()));
    EXPECT_EQ(out.text(), "PORT: ERROR: CRS232H: Port name is too long. 255256\n"
                          "PORT: ERROR: CRS232H: Port name is too long. 255300\n");
}

TEST_F(SerialPort, TooLongNameLeavesAnOpenPortAsItWas) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    CaptureStdout out;
    EXPECT_FALSE(port.openPort(std::string(256, 'n').c_str()));
    ASSERT_TRUE(pty.send("\x42", 1));
    unsigned char byte = 0;
    EXPECT_EQ(port.read(&byte, 1), 1);
    EXPECT_EQ(byte, 0x42);
    // Failures still name the port that is open.
    EXPECT_FALSE(port.setBaudRate(14400));
    EXPECT_EQ(out.text(), "PORT: ERROR: CRS232H: Port name is too long. 255256\n"
                          "PORT: ERROR: CRS232H: Could not set the baud rate 14400\n");
}

TEST_F(SerialPort, OnlyTheEightRatesReachTheLine) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    const struct {
        std::int32_t rate;
        speed_t speed;
    } accepted[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
    for (const auto& a : accepted) {
        SCOPED_TRACE(a.rate);
        EXPECT_TRUE(port.setBaudRate(a.rate));
        EXPECT_TRUE(port.setAttributes(nullptr));
        const termios t = settingsOf(pty);
        EXPECT_EQ(cfgetospeed(&t), a.speed);
    }
    CaptureStdout out;
    EXPECT_FALSE(port.setBaudRate(110));
    EXPECT_FALSE(port.setBaudRate(14400));
    EXPECT_FALSE(port.setBaudRate(-9600));
    EXPECT_EQ(out.text(), "PORT: ERROR: CRS232H: Could not set the baud rate 110\n"
                          "PORT: ERROR: CRS232H: Could not set the baud rate 14400\n"
                          "PORT: ERROR: CRS232H: Could not set the baud rate -9600\n");
    EXPECT_TRUE(port.setAttributes(nullptr));
    const termios t = settingsOf(pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200)) << "refused rates leave the working set alone";
}

TEST_F(SerialPort, AppliedBlockBecomesTheWorkingSetOnlyOnSuccess) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    PortAttributes fast = wandAttributes();
    fast.dcb.BaudRate = 19200;
    ASSERT_TRUE(port.setAttributes(&fast));

    PortAttributes bad = wandAttributes();
    bad.dcb.BaudRate = 2400;
    bad.dcb.ByteSize = 9;
    CaptureStdout out;
    EXPECT_FALSE(port.setAttributes(&bad));
    EXPECT_EQ(out.text(), "PORT: ERROR: CRS232H: Setting attribute(DCB) to " + pty.name() + ": Invalid argument\n");

    ASSERT_TRUE(port.setAttributes(nullptr));
    const termios t = settingsOf(pty);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
}

TEST_F(SerialPort, AttributesReadBackAsApplied) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    PortAttributes got;
    std::memset(&got, 0xEE, sizeof got);
    ASSERT_TRUE(port.getAttributes(&got));
    EXPECT_EQ(got.dcb.BaudRate, 9600u);
    EXPECT_EQ(got.dcb.ByteSize, 8);
    EXPECT_EQ(got.dcb.Parity, 0);
    EXPECT_EQ(got.dcb.StopBits, 0);
    EXPECT_EQ(got.dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(got.dcb.fOutX, 0u);
    EXPECT_EQ(got.timeouts.ReadTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(got.timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(got.timeouts.ReadIntervalTimeout, 0u);

    CaptureStdout out;
    EXPECT_FALSE(port.getAttributes(nullptr));
    EXPECT_FALSE(port.storeAttributes(nullptr));
    EXPECT_EQ(out.text(), "");
}

TEST_F(SerialPort, UseWithoutAnOpenLineIsReportedNotCrashed) {
    CRS232H port(&host);
    CaptureStdout out;
    unsigned char byte = 0;
    PortAttributes a = wandAttributes();
    EXPECT_EQ(port.read(&byte, 1), -1);
    EXPECT_FALSE(port.getAttributes(&a));
    EXPECT_FALSE(port.setAttributes(nullptr));
    EXPECT_FALSE(port.closePort());
    EXPECT_EQ(out.text(), "PORT: ERROR: CRS232H: Reading from : Bad file descriptor\n"
                          "PORT: ERROR: CRS232H: Getting attribute(DCB) from : Bad file descriptor\n"
                          "PORT: ERROR: CRS232H: Setting attribute(DCB) to : Bad file descriptor\n");
}

TEST_F(SerialPort, ReopeningGivesTheFirstLineBack) {
    PseudoTerminal other;
    ASSERT_TRUE(other.ok());
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port, pty.name()));
    ASSERT_TRUE(port.openPort(other.name().c_str()));
    CRS232H again(&host);
    EXPECT_TRUE(again.openPort(pty.name().c_str())) << "the first line must not stay locked";
}

TEST(SerialPortLogging, TracesFollowTheDebugLevels) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    CLogH framework = quietLogger("HOST", 3);
    framework.setDebugThreshold(4);
    CaptureStdout out;
    {
        CRS232H port(&framework);
        port.openPort(pty.name().c_str());
    }
    EXPECT_EQ(out.text(), "HOST: DEBUG: CRS232H: \"constructor\" called.\n"
                          "HOST: DEBUG: CRS232H: \"openPort\" called.\n"
                          "HOST: DEBUG: CRS232H: Opening " + pty.name() + ".\n"
                          "HOST: DEBUG: CRS232H: \"destructor\" called.\n");

    out.clear();
    CLogH deviceOnly = quietLogger("HOST", 1);
    deviceOnly.setDebugThreshold(4);
    { CRS232H port(&deviceOnly); }
    CRS232H own(nullptr);
    EXPECT_EQ(out.text(), "") << "the port's traces belong to level 3";
}

}  // namespace
