#include "OptionBlock.h"
#include "PluginLibrary.h"
#include "PluginLogger.h"
#include "SharedStorages.h"
#include "ThreadReadMeter.h"

#include "plugin/CBase.h"
#include "support/CLogH.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

host::LoggerSettings quiet() {
    host::LoggerSettings settings;
    settings.showDate = settings.showTime = settings.showThreadId = false;
    return settings;
}

// What a device's init does with a view: read the count as its offset, raise it.
void claim(host::SharedStorages& storages, host::DeviceViews& views, std::uint32_t controllers,
           std::uint32_t trackers) {
    storages.beginClaim(views);
    ASSERT_TRUE(views.con.lock());
    std::uint32_t offset = views.con.getConDataCount();
    views.con.setConDataCount(offset + controllers);
    ASSERT_TRUE(views.con.unlock());
    if (trackers > 0) {
        ASSERT_TRUE(views.tra.lock());
        offset = views.tra.getTraDataCount();
        views.tra.setTraDataCount(offset + trackers);
        ASSERT_TRUE(views.tra.unlock());
    }
    storages.endClaim(views);
}

TEST(HostStorages, DevicesClaimInTurnAndAReclaimTakesTheSameEntries) {
    std::string error;
    auto storages = host::SharedStorages::create("", quiet(), error);
    ASSERT_TRUE(storages) << error;
    quorlix_shm& shm = storages->region();
    EXPECT_TRUE(quorlix_shm_valid(&shm, sizeof shm));
    EXPECT_EQ(shm.running, 1u);

    auto first = storages->makeViews("first");
    auto second = storages->makeViews("second");
    claim(*storages, *first, 1, 1);
    claim(*storages, *second, 2, 0);
    EXPECT_EQ(first->conOffset, 0u);
    EXPECT_EQ(second->conOffset, 1u);
    EXPECT_EQ(shm.controllers.count, 3u);
    EXPECT_EQ(shm.trackers.count, 1u);
    EXPECT_STREQ(shm.controllers.owner[0], "first");
    EXPECT_STREQ(shm.controllers.owner[1], "second");
    EXPECT_STREQ(shm.controllers.owner[2], "second");
    EXPECT_STREQ(shm.trackers.owner[0], "first");
    EXPECT_EQ(second->con.getConData(3), reinterpret_cast<ConData*>(&shm.con[2]));

    // The first device comes back after its line was lost: same entries, and
    // the second device still finds all of its own.
    claim(*storages, *first, 1, 1);
    EXPECT_EQ(first->conCount, 1u);
    EXPECT_EQ(first->traCount, 1u);
    EXPECT_EQ(shm.controllers.count, 3u);
    EXPECT_EQ(shm.trackers.count, 1u);
    EXPECT_NE(second->con.getConData(3), nullptr);
    EXPECT_EQ(first->con.getConData(2), nullptr) << "a device sees no entry beyond its own";
}

TEST(HostStorages, TakingARecordCopiesItAndCountsTheRewrite) {
    std::string error;
    auto storages = host::SharedStorages::create("", quiet(), error);
    ASSERT_TRUE(storages);
    quorlix_shm& shm = storages->region();
    shm.con[4].number = 0x05000000;
    shm.tra[0].x = 42;
    quorlix_con_data con{};
    quorlix_tra_data tra{};
    ASSERT_TRUE(storages->takeController(5, con));
    EXPECT_EQ(con.number, 0x05000000u);
    EXPECT_EQ(shm.controllers.changes[4], 1u);
    ASSERT_TRUE(storages->takeTracker(1, tra));
    EXPECT_EQ(tra.x, 42);
    EXPECT_EQ(shm.trackers.changes[0], 1u);
    EXPECT_FALSE(storages->takeController(0, con));
    EXPECT_FALSE(storages->takeController(33, con));
    EXPECT_FALSE(storages->takeTracker(33, tra));
}

TEST(HostStorages, SharedMemoryIsCreatedForOthersAndRemovedOnExit) {
    std::string name = "quorlix-test-" + std::to_string(getpid());
    std::string error;
    {
        auto storages = host::SharedStorages::create(name, quiet(), error);
        ASSERT_TRUE(storages) << error;
        EXPECT_EQ(storages->shmName(), "/" + name);
        int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        struct stat info {};
        ASSERT_EQ(fstat(fd, &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << "without a group, for this user alone";
        void* mapped = mmap(nullptr, sizeof(quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        ASSERT_NE(mapped, MAP_FAILED);
        quorlix_shm* other = static_cast<quorlix_shm*>(mapped);
        EXPECT_TRUE(quorlix_shm_valid(other, sizeof *other));
        EXPECT_EQ(other->host_pid, getpid());

        auto twice = host::SharedStorages::create(name, quiet(), error);
        EXPECT_FALSE(twice);
        EXPECT_EQ(error.rfind("shared memory /" + name + " is in use by another host (process " +
                                  std::to_string(getpid()) + " (",
                              0),
                  0u)
            << error;
        EXPECT_EQ(other->running, 1u) << "a refused second host leaves the first one's memory alone";

        storages.reset();
        EXPECT_EQ(other->running, 0u) << "readers learn that the host stopped";
        munmap(mapped, sizeof(quorlix_shm));
    }
    EXPECT_LT(shm_open(("/" + name).c_str(), O_RDONLY, 0), 0);
    EXPECT_EQ(errno, ENOENT);
}

TEST(HostStorages, SharedMemoryGivenToAGroupIsReadableByIt) {
    const struct group* own = getgrgid(getegid());
    ASSERT_NE(own, nullptr);
    std::string group = own->gr_name;
    std::string name = "/quorlix-group-" + std::to_string(getpid());
    std::string error;
    {
        auto storages = host::SharedStorages::create(name, quiet(), error, group);
        ASSERT_TRUE(storages) << error;
        int fd = shm_open(name.c_str(), O_RDONLY, 0);
        ASSERT_GE(fd, 0);
        struct stat info {};
        ASSERT_EQ(fstat(fd, &info), 0);
        close(fd);
        EXPECT_EQ(info.st_mode & 0777, 0660u);
        EXPECT_EQ(info.st_gid, getegid());
    }
    EXPECT_FALSE(host::SharedStorages::create(name, quiet(), error, "no-such-group-quorlix"));
    EXPECT_EQ(error, "shm-group: there is no group \"no-such-group-quorlix\"");
    EXPECT_LT(shm_open(name.c_str(), O_RDONLY, 0), 0) << "a refused group leaves no object behind";
}

TEST(HostStorages, MemoryLeftByAHostThatDiedIsTakenOver) {
    std::string name = "/quorlix-stale-" + std::to_string(getpid());
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    int fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, sizeof(quorlix_shm)), 0);
    quorlix_shm left{};
    left.magic = QUORLIX_SHM_MAGIC;
    left.host_pid = gone;
    ASSERT_EQ(write(fd, &left, sizeof left), static_cast<ssize_t>(sizeof left));
    close(fd);

    std::string error;
    auto storages = host::SharedStorages::create(name, quiet(), error);
    ASSERT_TRUE(storages) << error;
    EXPECT_EQ(storages->region().host_pid, getpid());
}

TEST(HostStorages, AReaderThatDiesHoldingALockDoesNotBlockTheHost) {
#if defined(QUORLIX_TEST_EMULATED)
    GTEST_SKIP() << "the emulator does not hand robust mutexes of a dead process on";
#endif
    std::string name = "quorlix-dead-reader-" + std::to_string(getpid());
    std::string error;
    auto storages = host::SharedStorages::create(name, quiet(), error);
    ASSERT_TRUE(storages) << error;
    pid_t reader = fork();
    if (reader == 0) {
        int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
        void* mapped = mmap(nullptr, sizeof(quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        quorlix_shm_lock(&static_cast<quorlix_shm*>(mapped)->controllers.lock.mutex);
        _exit(0);
    }
    ASSERT_GT(reader, 0);
    waitpid(reader, nullptr, 0);
    quorlix_con_data con{};
    EXPECT_TRUE(storages->takeController(1, con));
    EXPECT_EQ(storages->region().controllers.changes[0], 1u);
}

TEST(HostStorages, ObjectNames) {
    EXPECT_EQ(host::shmObjectName("wand"), "/wand");
    EXPECT_EQ(host::shmObjectName("/wand"), "/wand");
    EXPECT_EQ(host::shmObjectName(""), "");
    EXPECT_EQ(host::shmObjectName("/"), "");
    EXPECT_EQ(host::shmObjectName("a/b"), "");
    EXPECT_EQ(host::shmObjectName(std::string(300, 'x')), "");
    std::string error;
    EXPECT_FALSE(host::SharedStorages::create("a/b", quiet(), error));
    EXPECT_EQ(error, "\"a/b\" cannot name a shared-memory object (one word, no '/' inside)");
}

TEST(HostPluginLibrary, LoadsThePluginAndRefusesWhatIsNone) {
    host::PluginLibrary missing;
    std::string error;
    EXPECT_FALSE(missing.load("/nonexistent/quorlix.so", error));
    EXPECT_NE(error.find("/nonexistent/quorlix.so"), std::string::npos) << error;

    host::PluginLibrary other;
    EXPECT_FALSE(other.load("libm.so.6", error));
    EXPECT_EQ(error, "libm.so.6 is no device plug-in: it does not export createDev and deleteDev");

    host::PluginLibrary plugin;
    ASSERT_TRUE(plugin.load(QUORLIX_PLUGIN_PATH, error)) << error;
    host::DeviceConfig config;
    config.name = "wand";
    host::OptionBlock options(config);
    host::LoggerPtr logger = host::makePluginLogger(quiet(), "wand");
    CBase* device = plugin.createDev(options.fresh(), logger.get());
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(plugin.deleteDev(device));
    EXPECT_FALSE(plugin.deleteDev(nullptr));
}

TEST(HostPluginLibrary, LibraryNamesOfAConfiguration) {
    EXPECT_EQ(host::resolveLibrary("quorlix", "/etc/q/wand.conf", "/build/quorlix.so"), "/build/quorlix.so");
    EXPECT_EQ(host::resolveLibrary("quorlix.so", "wand.conf", "/build/quorlix.so"), "/build/quorlix.so");
    EXPECT_EQ(host::resolveLibrary("quorlix", "wand.conf", ""), "quorlix");
    EXPECT_EQ(host::resolveLibrary("libother.so", "/etc/q/wand.conf", "/b/q.so"), "libother.so");
    EXPECT_EQ(host::resolveLibrary("/opt/q.so", "/etc/q/wand.conf", ""), "/opt/q.so");
    EXPECT_EQ(host::resolveLibrary("lib/q.so", "/etc/q/wand.conf", ""), "/etc/q/lib/q.so");
    EXPECT_EQ(host::resolveLibrary("./q.so", "wand.conf", ""), "./q.so");
}

TEST(HostThreadReadMeter, CountsExactlyWhatTheThreadRead) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "0123456789", 10), 10);
    std::uint64_t first = 0, held = 0, second = 0, third = 0;
    bool available = false;
    // A thread of its own, as a device's: the meter counts its thread only.
    std::thread reader([&] {
        host::ThreadReadMeter meter(std::chrono::milliseconds(1000));
        available = meter.available();
        const auto start = std::chrono::steady_clock::now();
        first = meter.every(start);
        char buffer[16];
        if (read(fds[0], buffer, 7) != 7) return;
        held = meter.every(start + std::chrono::milliseconds(999));
        second = meter.every(start + std::chrono::milliseconds(1000));
        third = meter.now();
    });
    char other[3];
    EXPECT_EQ(read(fds[0], other, 0), 0);
    reader.join();
    close(fds[0]);
    close(fds[1]);
    if (!available) GTEST_SKIP() << "this system keeps no count of a thread's reads";
    EXPECT_EQ(held, first) << "asked again only once the interval has passed";
    EXPECT_EQ(second - first, 7u);
    EXPECT_EQ(third, second) << "the meter's own reads are not counted";
}

}  // namespace
