// CRS232H on a real Windows serial port: the wand's COM port, with the test
// playing the wand on the far port of the null-modem pair.
#include "CaptureStdout.h"
#include "ComPair.h"
#include "SystemTextMatch.h"
#include "TestOptions.h"
#include "WandLine.h"

#include "serial/CRS232H.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

bool openLikeTheWand(CRS232H& port) { return openLikeTheWand(port, compair::wandPort()); }

// "PORT: ERROR: <prefix><port>: <system text>\n" with some text, whatever its wording.
::testing::AssertionResult reportedWithSystemText(const std::string& output, const std::string& prefix) {
    return reportedWithSomeSystemText(output, "PORT: ERROR: " + prefix);
}

class ComPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(wand.ok()) << wand.problem(); }

    CLogH host = quietLogger("PORT");
    compair::FarEnd wand;
};

TEST_F(ComPort, WandBytesArriveUnchanged) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port));
    // Bytes a line in text or flow-controlled mode would eat or change.
    const std::string sent("\x80\x01\x10\x8F\r\n\x11\x13\x03\x04\x00\x7F\xFF\x1A", 14);
    ASSERT_TRUE(wand.send(sent));
    std::string got;
    unsigned char byte = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(port.read(&byte, 1), 1) << "byte " << i;
        got.push_back(static_cast<char>(byte));
    }
    char rest[10] = {};
    ASSERT_EQ(port.read(rest, 10), 10);
    got.append(rest, 10);
    EXPECT_EQ(got, sent);
}

TEST_F(ComPort, SilentLineGivesNothingAfterTheReadTimeout) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port));
    unsigned char byte = 0;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(port.read(&byte, 1), 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(elapsed, 90) << "a time-out must not come early";
    EXPECT_LT(elapsed, 2000) << "100 ms expected";
}

TEST_F(ComPort, SettingsApplyAndThoseFoundAtOpenComeBackOnClose) {
    // Leave the line at 19200 first, as another program might.
    HANDLE line = compair::openPort(compair::wandPort());
    ASSERT_NE(line, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(compair::setWandLine(line, CBR_19200));
    CloseHandle(line);

    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port));
    PortAttributes applied;
    ASSERT_TRUE(port.getAttributes(&applied));
    EXPECT_EQ(applied.dcb.BaudRate, 9600u);
    EXPECT_EQ(applied.dcb.ByteSize, 8);
    EXPECT_EQ(applied.dcb.Parity, portvalue::kNoParity);
    EXPECT_EQ(applied.dcb.StopBits, portvalue::kOneStopBit);
    EXPECT_EQ(applied.dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(applied.dcb.fOutX, 0u);
    EXPECT_EQ(applied.dcb.fInX, 0u);
    EXPECT_EQ(applied.timeouts.ReadTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(applied.timeouts.ReadIntervalTimeout, 0u);
    EXPECT_EQ(applied.timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_TRUE(port.closePort());

    line = compair::openPort(compair::wandPort());
    ASSERT_NE(line, INVALID_HANDLE_VALUE) << "closePort must release the line";
    DCB after;
    std::memset(&after, 0, sizeof after);
    after.DCBlength = sizeof after;
    EXPECT_TRUE(GetCommState(line, &after));
    EXPECT_EQ(after.BaudRate, static_cast<DWORD>(CBR_19200));
    CloseHandle(line);
}

TEST_F(ComPort, SecondOpenerIsRefusedWithTheSystemText) {
    if (!compair::portsAreExclusive()) GTEST_SKIP() << "this system lets two openers share a COM port";
    CRS232H first(&host);
    ASSERT_TRUE(openLikeTheWand(first));
    CRS232H second(&host);
    CaptureStdout out;
    EXPECT_FALSE(second.openPort(compair::wandPort()));
    EXPECT_TRUE(reportedWithSystemText(out.text(), std::string("CRS232H: Opening port ") + compair::wandPort() + ": "));
    // The refused object never held the line: closing it touches nothing.
    out.clear();
    EXPECT_FALSE(second.closePort());
    EXPECT_EQ(out.text(), "");
}

TEST_F(ComPort, MissingPortIsReportedByTheNameAsGiven) {
    CRS232H port(&host);
    CaptureStdout out;
    EXPECT_FALSE(port.openPort("COM9"));
    EXPECT_TRUE(reportedWithSystemText(out.text(), "CRS232H: Opening port COM9: "));
}

TEST_F(ComPort, SettingsTheLineRefusesLeaveTheWorkingSetAlone) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port));
    PortAttributes impossible = wandAttributes();
    impossible.dcb.BaudRate = 9600;
    impossible.dcb.ByteSize = 3;  // no line has three data bits
    CaptureStdout out;
    EXPECT_FALSE(port.setAttributes(&impossible));
    EXPECT_TRUE(reportedWithSystemText(out.text(), std::string("CRS232H: Setting attribute(DCB) to ") + compair::wandPort() + ": "));
    // The working set still works: applying it again succeeds.
    out.clear();
    EXPECT_TRUE(port.setAttributes(nullptr)) << out.text();
}

TEST_F(ComPort, ClosedPortReportsReadsInsteadOfCrashing) {
    CRS232H port(&host);
    ASSERT_TRUE(openLikeTheWand(port));
    ASSERT_TRUE(port.closePort());
    CaptureStdout out;
    unsigned char byte = 0;
    EXPECT_EQ(port.read(&byte, 1), -1);
    EXPECT_TRUE(reportedWithSystemText(out.text(), std::string("CRS232H: Reading from ") + compair::wandPort() + ": "));
}

}  // namespace
