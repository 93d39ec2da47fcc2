// A host thread reads both storages under their mutexes while the wand
// publishes as fast as bytes arrive. Run under ThreadSanitizer (tsan preset)
// this is where an unlocked access shows; in every build each record the
// host copies must be one the device wrote, never a mix of two.
#include "WandHost.h"
#include "storage/ByteOrder.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Button 10 ramps valuator 1 up, button 11 down. With both rates at least 1
// every record leaves valuator 1 clamped at the end of its button's way, so a
// whole controller record pairs button 10 with +1000 and button 11 with -1000.
const std::vector<std::uint8_t> kUp = keyRecord({0x06, 0x00});
const std::vector<std::uint8_t> kDown = keyRecord({0x02, 0x04});

bool buttonSet(const ConData& record, int b) { return ((record.buttons[(b - 1) / 8] >> ((b - 1) % 8)) & 1) != 0; }

// Empty when the record is one the wand can have written; else what is wrong.
std::string controllerFault(const ConData& record) {
    if (record.valuatorCount == 0) return "";  // not published yet
    if (netToHost(record.number) != 1 || netToHost(record.valuatorCount) != 2 || netToHost(record.buttonCount) != 11)
        return "header";
    const bool up = buttonSet(record, 10);
    const bool down = buttonSet(record, 11);
    const std::int32_t v1 = netToHostSigned(record.valuators[0]);
    for (int b = 1; b <= 9; ++b) {
        if (buttonSet(record, b)) return "button " + std::to_string(b);
    }
    if (netToHostSigned(record.valuators[1]) != 0) return "valuator 2";
    if (up && !down && v1 == 1000) return "";
    if (down && !up && v1 == -1000) return "";
    if (!up && !down && v1 == 0) return "";
    return "buttons 10/11 = " + std::to_string(up) + "/" + std::to_string(down) + " with valuator 1 = " +
           std::to_string(v1);
}

// All six pose values follow valuator 1 from the same start, so in a whole
// record they are equal.
std::string trackerFault(const TraData& record) {
    if (record.number == 0) return "not claimed";
    const std::int32_t values[] = {record.x, record.y, record.z, record.azim, record.elev, record.roll};
    for (std::int32_t v : values) {
        if (v != values[0]) return "pose values differ";
    }
    return "";
}

struct ReaderCounts {
    long copies = 0;
    long controllerChanges = 0;
    long trackerChanges = 0;
    std::string fault;
};

// The host's side: copy each entry under its storage's mutex, check it outside.
void readWhileRunning(TestStorages& storages, const std::atomic<bool>& running, ReaderCounts& counts) {
    ConData lastCon{};
    TraData lastTra{};
    while (running.load() && counts.fault.empty()) {
        ConData con;
        TraData tra;
        pthread_mutex_lock(&storages.conLock.mutex);
        std::memcpy(&con, &storages.conRecords[0], sizeof con);
        pthread_mutex_unlock(&storages.conLock.mutex);
        pthread_mutex_lock(&storages.traLock.mutex);
        std::memcpy(&tra, &storages.traRecords[0], sizeof tra);
        pthread_mutex_unlock(&storages.traLock.mutex);
        ++counts.copies;
        const std::string conFault = controllerFault(con);
        const std::string traFault = trackerFault(tra);
        if (!conFault.empty()) counts.fault = "controller record: " + conFault;
        if (!traFault.empty()) counts.fault = "tracker record: " + traFault;
        if (std::memcmp(&con, &lastCon, sizeof con) != 0) ++counts.controllerChanges;
        if (std::memcmp(&tra, &lastTra, sizeof tra) != 0) ++counts.trackerChanges;
        lastCon = con;
        lastTra = tra;
        std::this_thread::yield();
    }
}

TEST(StorageRace, HostReadsWholeRecordsWhileTheWandPublishesAsFastAsBytesArrive) {
    WandHost host;
    host.withPortAnd({"valrate 1", "emulatetracker 1 [0,0,0,0,0,0] 1 1 1 1 1 1"});
    ASSERT_EQ(host.start(), 1) << host.output();
    host.clearOutput();

    std::atomic<bool> feeding{true};
    std::atomic<bool> fed{false};
    std::thread wand([&] {
        std::vector<std::uint8_t> burst;
        for (int i = 0; i < 32; ++i) burst.insert(burst.end(), kUp.begin(), kUp.end());
        for (int i = 0; i < 32; ++i) burst.insert(burst.end(), kDown.begin(), kDown.end());
        // Blocks while the line's buffer is full: the pace is the device's.
        while (feeding.load() && host.line.send(burst.data(), burst.size())) {
        }
        fed = true;
    });
    std::atomic<bool> reading{true};
    ReaderCounts counts;
    std::thread reader([&] { readWhileRunning(host.storages, reading, counts); });

    long published = 0;
    long calls = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(1500);
    // The wand thread's last send completes only while the device reads on.
    while (Clock::now() < end || !fed.load()) {
        if (Clock::now() >= end) feeding = false;
        ASSERT_EQ(host.recv(), 1) << host.output();
        ++calls;
        if (host.controllerChanged(1)) ++published;
    }
    reading = false;
    reader.join();
    wand.join();

    EXPECT_EQ(counts.fault, "");
    EXPECT_GT(published, 100) << calls << " calls";
    EXPECT_GT(counts.copies, 100);
    // The reader really saw the records change under it.
    EXPECT_GT(counts.controllerChanges, 10);
    EXPECT_GT(counts.trackerChanges, 1);
    EXPECT_EQ(host.output(), "");
    RecordProperty("published", static_cast<int>(published));
    RecordProperty("hostCopies", static_cast<int>(counts.copies));
}

}  // namespace
