#include "CaptureStdout.h"
#include "TestOptions.h"
#include "plugin/CBase.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <type_traits>

extern "C" CBase* createDev(OptionList* config, CLogH* hostLogger);
extern "C" bool deleteDev(CBase* device);

namespace {

// Itanium C++ ABI: a pointer to a virtual member holds 1 + the slot's byte offset.
template <class F>
std::uintptr_t slotOf(F member) {
    struct {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } raw;
    static_assert(sizeof member == sizeof raw, "Itanium member pointer");
    std::memcpy(&raw, &member, sizeof raw);
    return (raw.ptr - 1) / sizeof(void*);
}

TEST(DeviceBase, HasTheSevenHostSlotsInOrderAndNoVirtualDestructor) {
    static_assert(!std::has_virtual_destructor_v<CBase>, "a virtual destructor adds slots");
    EXPECT_EQ(slotOf(&CBase::init), 0u);
    EXPECT_EQ(slotOf(&CBase::start), 1u);
    EXPECT_EQ(slotOf(&CBase::configure), 2u);
    EXPECT_EQ(slotOf(&CBase::stop), 3u);
    EXPECT_EQ(slotOf(&CBase::printInfo), 4u);
    EXPECT_EQ(slotOf(&CBase::recvData), 5u);
    EXPECT_EQ(slotOf(&CBase::sendData), 6u);
}

TEST(DeviceEntry, WithoutHostLoggerTheDeviceLogsAsCQuorlix) {
    TestOptions options;
    CaptureStdout out;
    CBase* device = createDev(options.list(), nullptr);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->sendData(1, 2), -1);
    EXPECT_TRUE(std::regex_match(
        out.text(), std::regex("[A-Z][a-z]{2} \\d{2} \\d{2}:\\d{2}:\\d{2} CQuorlix\\[\\d+\\]: WARNING: "
                               "CQuorlix: Can not send any data\\.\n")))
        << out.text();
    EXPECT_TRUE(deleteDev(device));
}

TEST(DeviceEntry, CopiesTheHostLoggerAndTakesDebugLevelOneAsItsOwn) {
    TestOptions options;
    CLogH host = quietLogger("HOST", 1);
    host.ownDebugLevel = 3;
    host.debugThreshold = 4;
    const CLogH hostBefore = host;
    CaptureStdout out;
    CBase* device = createDev(options.list(), &host);
    ASSERT_NE(device, nullptr);
    // Later changes to the host's logger must not reach the device.
    host.setName("CHANGED");
    host.debugLevel = 0;
    EXPECT_EQ(device->configure(), 1);
    EXPECT_TRUE(device->start());
    EXPECT_TRUE(deleteDev(device));
    EXPECT_EQ(out.text(),
              "HOST: DEBUG: CQuorlix: \"constructor\" called.\n"
              "HOST: DEBUG: CQuorlix: \"configure\" called.\n"
              "HOST: DEBUG: CQuorlix: \"start\" called.\n"
              "HOST: DEBUG: CQuorlix: \"destructor\" called.\n");
    host.setName("HOST");
    host.debugLevel = 1;
    EXPECT_EQ(std::memcmp(&host, &hostBefore, sizeof host), 0);
}

TEST(DeviceEntry, DeleteLeavesTheHostsBlocksAloneAndRefusesNull) {
    TestOptions options;
    options.line(1, "port com1");
    OptionList before;
    std::memcpy(&before, options.list(), sizeof before);
    CLogH host = quietLogger("HOST");
    CBase* device = createDev(options.list(), &host);
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(deleteDev(device));
    EXPECT_EQ(std::memcmp(&before, options.list(), sizeof before), 0);
    EXPECT_FALSE(deleteDev(nullptr));
}

TEST(DeviceEntry, UninitialisedDeviceFailsSafely) {
    TestOptions options;
    CLogH host = quietLogger("HOST");
    CBase* device = createDev(options.list(), &host);
    ASSERT_NE(device, nullptr);
    CaptureStdout out;
    std::uint8_t masks[8] = {};
    EXPECT_EQ(device->recvData(masks, 0), -1);
    EXPECT_TRUE(device->stop());
    EXPECT_EQ(device->configure(), 1);
    EXPECT_TRUE(deleteDev(device));
}

}  // namespace
