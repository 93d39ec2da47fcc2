// A host's whole cycle with one wand, over and over: createDev, init,
// recvData, stop, deleteDev. Under memcheck (faults_memcheck) no cycle may
// leak or touch memory it does not own; here each cycle must also work.
#include "CaptureStdout.h"
#include "PseudoTerminal.h"
#include "TestOptions.h"
#include "TestStorages.h"
#include "plugin/CBase.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

extern "C" CBase* createDev(OptionList* config, CLogH* hostLogger);
extern "C" bool deleteDev(CBase* device);

namespace {

constexpr int kCycles = 100;

bool buttonSet(const ConData& record, int b) { return ((record.buttons[(b - 1) / 8] >> ((b - 1) % 8)) & 1) != 0; }

TEST(Cycles, HundredCyclesOfCreateInitReceiveStopDelete) {
    CaptureStdout out;
    PseudoTerminal line;
    ASSERT_TRUE(line.ok());
    TestStorages storages;
    std::int32_t runFlag = 1;
    InitInfo info = storages.initInfo(&runFlag);
    // Every part the device can own: tracker emulation (so the tracker part),
    // a calibration library that cannot be loaded, all three option parsers.
    TestOptions options;
    options.line(1, "port " + line.name())
        .line(2, "valrate 0.25")
        .line(3, "emulatetracker 1 [1,2,3,0,0,0] 1 2 0 0 0 0 5")
        .line(4, "sensoroffset 1 1 2 3 cm")
        .line(5, "calibration quorlix-no-such-calibration.so 1 2");
    CLogH logger = quietLogger("HOST", 4);

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        // The host gives the returning device its entries again.
        storages.conCount = 0;
        storages.traCount = 0;
        for (std::uint32_t i = 0; i < options.list()->entryCount; ++i) options.entry(i).recognised = false;

        CBase* device = createDev(options.list(), &logger);
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(device->init(&info), 1) << out.text();
        const std::uint8_t record[] = {0x80, static_cast<std::uint8_t>(cycle % 2 == 0 ? 0x01 : 0x13),
                                       static_cast<std::uint8_t>(cycle % 2 == 0 ? 0x10 : 0x00), 0x8F};
        ASSERT_TRUE(line.send(record, sizeof record));
        std::uint8_t masks[8] = {};
        EXPECT_EQ(device->recvData(masks, 0), 1);
        EXPECT_EQ(buttonSet(storages.conRecords[0], 1), cycle % 2 == 0);
        EXPECT_EQ(buttonSet(storages.conRecords[0], 2), cycle % 2 != 0);
        EXPECT_TRUE(device->stop());
        EXPECT_TRUE(deleteDev(device));
        out.clear();
    }
}

}  // namespace
