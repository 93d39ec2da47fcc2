// The line hangs up in the middle of a record and later comes back under the
// same name, as a pulled and re-plugged adapter does.
#include "SwappableLine.h"
#include "TextContains.h"
#include "WandHost.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {


class HangUp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(line.ok());
        host.options.line(1, "port " + line.name());
        ASSERT_EQ(host.start(), 1) << host.output();
        line.terminal().send(std::string("\x80\x01\x10\x8F"));
        ASSERT_EQ(host.recv(), 1);
        ASSERT_EQ(pressed(host), std::set<int>{1});
        // Half a record, then the far end is gone.
        line.terminal().send(std::string("\x80\x13"));
        line.hangUp();
        host.clearOutput();
    }

    // Every call fails at once while the line is gone; the partial record
    // publishes nothing.
    void expectGone() {
        for (int call = 0; call < 5; ++call) {
            EXPECT_EQ(host.recv(), -1);
            EXPECT_TRUE(host.masksClear());
        }
        EXPECT_TRUE(contains(host.output(), "HOST: ERROR: CQuorlix: Reading a byte failed.\n")) << host.output();
        EXPECT_EQ(pressed(host), std::set<int>{1});
    }

    // The rest of the cut record arrives first on the new line: it is skipped.
    void expectDecodingResumes(std::uint32_t entry) {
        line.terminal().send(std::string("\x10\x8F\x80\x13\x00\x8F", 6));
        EXPECT_EQ(host.recv(), 1) << host.output();
        EXPECT_EQ(pressed(host, entry), (std::set<int>{2, 3}));
        EXPECT_TRUE(host.controllerChanged(entry));
        line.terminal().send(std::string("\x80\x00\x0C\x8F", 4));
        EXPECT_EQ(host.recv(), 1);
        EXPECT_EQ(pressed(host, entry), std::set<int>{6});
    }

    SwappableLine line;
    WandHost host;
};

// What the reference host does: the device goes, a new one takes the same
// entry once the line is back.
TEST_F(HangUp, NewDeviceOnTheReturningLineTakesOverTheEntry) {
    expectGone();
    ASSERT_TRUE(host.device->stop());
    ASSERT_TRUE(deleteDev(host.device));
    host.device = nullptr;
    ASSERT_TRUE(line.plugIn());
    host.storages.conCount = 0;
    ASSERT_EQ(host.start(), 1) << host.output();
    expectDecodingResumes(1);
}

// A host may instead stop the same device and initialise it again.
TEST_F(HangUp, SameDeviceInitialisedAgainReadsTheReturningLine) {
    expectGone();
    ASSERT_TRUE(host.device->stop());
    ASSERT_TRUE(line.plugIn());
    host.storages.conCount = 0;
    ASSERT_EQ(host.device->init(&host.info), 1) << host.output();
    expectDecodingResumes(1);
}

// Until the host sets the device up again, the returning line is not read:
// the device keeps failing without touching the storage.
TEST_F(HangUp, ReturningLineAloneDoesNotRevive) {
    ASSERT_TRUE(line.plugIn());
    line.terminal().send(std::string("\x80\x13\x00\x8F", 4));
    expectGone();
}

}  // namespace
