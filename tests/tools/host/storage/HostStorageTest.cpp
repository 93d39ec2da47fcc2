#include "LineLoss.h"
#include "OptionBlock.h"
#include "PluginLibrary.h"
#include "PluginLogger.h"
#include "SharedStorages.h"
#include "ThreadReadMeter.h"

#include "plugin/CBase.h"
#include "support/CLogH.h"

#include <gtest/gtest.h>

#include <atomic>
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

using Kind = host::PublishedView::Kind;

std::string ownerOf(const quorlix_shm_entry_head& head) { return std::string(head.owner, strnlen(head.owner, 32)); }

TEST(HostStorages, DevicesClaimInTurnAndAReclaimTakesTheSameEntries) {
    std::string error;
    auto storages = host::SharedStorages::create("", quiet(), error);
    ASSERT_TRUE(storages) << error;
    const host::PublishedView& view = storages->view();
    EXPECT_TRUE(quorlix_shm_valid(&view.shm(), sizeof(quorlix_shm)));
    EXPECT_TRUE(quorlix_shm_host_alive(&view.shm()));

    auto first = storages->makeViews("first");
    auto second = storages->makeViews("second");
    claim(*storages, *first, 1, 1);
    claim(*storages, *second, 2, 0);
    EXPECT_EQ(first->conOffset, 0u);
    EXPECT_EQ(second->conOffset, 1u);
    EXPECT_EQ(view.count(Kind::controller), 3u);
    EXPECT_EQ(view.count(Kind::tracker), 1u);
    EXPECT_EQ(ownerOf(view.controller(1).head), "first");
    EXPECT_EQ(ownerOf(view.controller(2).head), "second");
    EXPECT_EQ(ownerOf(view.controller(3).head), "second");
    EXPECT_EQ(ownerOf(view.tracker(1).head), "first");
    EXPECT_NE(second->con.getConData(3), nullptr);

    // The first device comes back after its line was lost: same entries, and
    // the second device still finds all of its own.
    claim(*storages, *first, 1, 1);
    EXPECT_EQ(first->conCount, 1u);
    EXPECT_EQ(first->traCount, 1u);
    EXPECT_EQ(view.count(Kind::controller), 3u);
    EXPECT_EQ(view.count(Kind::tracker), 1u);
    EXPECT_NE(second->con.getConData(3), nullptr);
    EXPECT_EQ(first->con.getConData(2), nullptr) << "a device sees no entry beyond its own";
    EXPECT_FALSE(host::SharedStorages::controllersFull(*second));
}

TEST(HostStorages, ADeviceAfterThirtyTwoControllersFindsTheStorageFull) {
    std::string error;
    auto storages = host::SharedStorages::create("", quiet(), error);
    ASSERT_TRUE(storages) << error;
    auto many = storages->makeViews("many");
    claim(*storages, *many, 32, 0);
    auto late = storages->makeViews("late");
    claim(*storages, *late, 1, 0);
    EXPECT_FALSE(host::SharedStorages::controllersFull(*many));
    EXPECT_TRUE(host::SharedStorages::controllersFull(*late));
    EXPECT_EQ(late->con.getConData(33), nullptr);
}

TEST(HostStorages, TakenRecordsReachTheViewWithTheirCountersAndLostMarks) {
    std::string error;
    auto storages = host::SharedStorages::create("", quiet(), error);
    ASSERT_TRUE(storages);
    auto views = storages->makeViews("wand");
    claim(*storages, *views, 5, 1);
    views->con.getConData(5)->number = 0x05000000;
    views->con.getConData(5)->buttons[0] = 0x03;
    views->tra.getTraData(1)->x = 42;
    const host::PublishedView& view = storages->view();
    quorlix_con_data con{};
    quorlix_tra_data tra{};
    ASSERT_EQ(storages->takeController(5, con), 0);
    EXPECT_EQ(con.number, 0x05000000u);
    EXPECT_EQ(view.controller(5).record.number, 0x05000000u);
    EXPECT_EQ(view.controller(5).head.changes, 1u);
    EXPECT_EQ(view.controller(5).head.lost, 0u);
    ASSERT_EQ(storages->takeTracker(1, tra), 0);
    EXPECT_EQ(view.tracker(1).record.x, 42);
    EXPECT_EQ(view.tracker(1).head.changes, 1u);

    ASSERT_EQ(storages->releaseController(5, 1234567890123456, con), 0);
    EXPECT_EQ(view.controller(5).record.buttons[0], 0u);
    EXPECT_EQ(view.controller(5).head.lost, 1u);
    EXPECT_EQ(view.controller(5).head.changes, 2u);
    EXPECT_EQ(quorlix_net_i32(view.controller(5).record.time_sec), 1234567890);
    ASSERT_EQ(storages->takeController(5, con), 0);
    EXPECT_EQ(view.controller(5).head.lost, 0u) << "the device's next record clears the mark";

    EXPECT_EQ(storages->takeController(0, con), ERANGE);
    EXPECT_EQ(storages->takeController(33, con), ERANGE);
    EXPECT_EQ(storages->takeTracker(33, tra), ERANGE);
    EXPECT_EQ(storages->failure(), "");
}

struct Heard : host::ChangeListener {
    void changed(const host::ChangeEvent& event) override { lost += event.lost ? 1 : 0; }
    unsigned lost = 0;
};

// The lock stays busy past the bound (a device inside the plug-in): the
// release is not lost, it goes with the next try.
TEST(HostStorages, AReleaseThatMeetsABusyLockIsWrittenOnTheNextTry) {
    std::string error;
    auto storages = host::SharedStorages::create("", quiet(), error);
    ASSERT_TRUE(storages);
    auto views = storages->makeViews("wand");
    claim(*storages, *views, 1, 0);
    Heard heard;
    host::LineLoss loss(*storages, heard);
    std::atomic<int> step{0};
    std::thread plugin([&] {
        views->con.lock();
        step = 1;
        while (step.load() != 2) std::this_thread::yield();
        views->con.unlock();
        step = 3;
    });
    while (step.load() != 1) std::this_thread::yield();
    EXPECT_EQ(loss.release("wand", *views), 0u);
    EXPECT_EQ(storages->view().controller(1).head.lost, 0u);
    step = 2;
    while (step.load() != 3) std::this_thread::yield();
    plugin.join();
    EXPECT_EQ(loss.retry(), 1u);
    EXPECT_EQ(storages->view().controller(1).head.lost, 1u);
    EXPECT_EQ(heard.lost, 1u);
    EXPECT_EQ(loss.retry(), 0u) << "written once";
}

// Every word of a record written is the same number: a copy that mixes two
// writes shows two numbers.
TEST(HostStorages, AReaderNeverSeesAHalfWrittenEntry) {
    std::string error;
    auto storages = host::SharedStorages::create("", quiet(), error);
    ASSERT_TRUE(storages);
    host::PublishedView& view = storages->view();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        quorlix_con_data record{};
        for (std::int32_t k = 1; k <= 20000; ++k) {
            for (std::int32_t& v : record.valuators) v = k;
            record.number = static_cast<std::uint32_t>(k);
            view.writeController(7, record, k % 2 == 0);
        }
        done = true;
    });
    unsigned torn = 0, reads = 0;
    while (!done.load()) {
        quorlix_shm_controller copy{};
        if (quorlix_shm_read_controller(&view.shm(), 7, &copy) != 0 || copy.record.number == 0) continue;
        ++reads;
        for (std::int32_t v : copy.record.valuators) torn += v != static_cast<std::int32_t>(copy.record.number);
        torn += copy.head.lost != (copy.record.number % 2 == 0 ? 1u : 0u);
    }
    writer.join();
    EXPECT_EQ(torn, 0u) << "in " << reads << " reads";
    EXPECT_EQ(view.controller(7).head.changes, 20000u);
}

TEST(HostStorages, SharedMemoryIsReadOnlyForReadersAndRemovedOnExit) {
    std::string name = "quorlix-test-" + std::to_string(getpid());
    std::string error;
    {
        auto storages = host::SharedStorages::create(name, quiet(), error);
        ASSERT_TRUE(storages) << error;
        EXPECT_EQ(storages->shmName(), "/" + name);
        char why[256];
        quorlix_shm* other = quorlix_shm_attach(name.c_str(), getuid(), why, sizeof why);
        ASSERT_NE(other, nullptr) << why;
        struct stat info {};
        int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
        ASSERT_EQ(fstat(fd, &info), 0);
        close(fd);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << "without a group, for this user alone";
        EXPECT_EQ(other->host_pid, getpid());
        EXPECT_TRUE(quorlix_shm_host_alive(other));

        // A reader that writes to its mapping is stopped by the system, not heard by the host.
        pid_t writer = fork();
        if (writer == 0) {
            const_cast<volatile std::uint32_t&>(other->controller_count) = 32;
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        // (Under AddressSanitizer its handler reports the fault and exits 1.)
        EXPECT_TRUE((WIFSIGNALED(status) && (WTERMSIG(status) == SIGSEGV || WTERMSIG(status) == SIGBUS)) ||
                    (WIFEXITED(status) && WEXITSTATUS(status) != 0));
        EXPECT_EQ(quorlix_shm_controller_count(other), 0u);

        auto twice = host::SharedStorages::create(name, quiet(), error);
        EXPECT_FALSE(twice);
        EXPECT_EQ(error.rfind("shared memory /" + name + " is in use by another host (process " +
                                  std::to_string(getpid()) + " (",
                              0),
                  0u)
            << error;
        EXPECT_TRUE(quorlix_shm_host_alive(other)) << "a refused second host leaves the first one's memory alone";

        storages.reset();
        EXPECT_FALSE(quorlix_shm_host_alive(other)) << "readers learn that the host stopped";
        quorlix_shm_detach(other);
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
        EXPECT_EQ(info.st_mode & 0777, 0640u) << "readers read, nothing more";
        EXPECT_EQ(info.st_gid, getegid());
    }
    EXPECT_FALSE(host::SharedStorages::create(name, quiet(), error, "no-such-group-quorlix"));
    EXPECT_EQ(error, "shm-group: there is no group \"no-such-group-quorlix\"");
    EXPECT_LT(shm_open(name.c_str(), O_RDONLY, 0), 0) << "a refused group leaves no object behind";
}

// A host killed outright leaves its object; the next one under the name takes
// it over in place, so a reader that kept its mapping follows.
TEST(HostStorages, ANewHostReusesTheObjectOfOneThatDiedAndItsReadersFollow) {
    std::string name = "quorlix-again-" + std::to_string(getpid());
    pid_t gone = fork();
    if (gone == 0) {
        std::string error;
        auto storages = host::SharedStorages::create(name, quiet(), error).release();
        auto views = storages->makeViews("old");
        claim(*storages, *views, 2, 0);
        quorlix_con_data con{};
        storages->takeController(2, con);
        _exit(storages != nullptr ? 0 : 1);  // no clean-up: as if killed
    }
    int status = 0;
    ASSERT_EQ(waitpid(gone, &status, 0), gone);
    ASSERT_EQ(status, 0);
    char why[256];
    quorlix_shm* reader = quorlix_shm_attach(name.c_str(), getuid(), why, sizeof why);
    ASSERT_NE(reader, nullptr) << why;
    const std::uint32_t before = quorlix_shm_word(&reader->generation);
    EXPECT_EQ(quorlix_shm_controller_count(reader), 2u) << "the dead host's last records stay";

    std::string error;
    auto storages = host::SharedStorages::create(name, quiet(), error);
    ASSERT_TRUE(storages) << error;
    EXPECT_TRUE(quorlix_shm_host_alive(reader));
    EXPECT_NE(quorlix_shm_word(&reader->generation), before);
    EXPECT_EQ(quorlix_shm_controller_count(reader), 0u);
    quorlix_shm_controller entry{};
    ASSERT_EQ(quorlix_shm_read_controller(reader, 2, &entry), 0);
    EXPECT_EQ(ownerOf(entry.head), "") << "nothing of the old host's entries is left";
    auto views = storages->makeViews("new");
    claim(*storages, *views, 1, 0);
    ASSERT_EQ(quorlix_shm_read_controller(reader, 1, &entry), 0);
    EXPECT_EQ(ownerOf(entry.head), "new");
    quorlix_shm_detach(reader);
}

TEST(HostStorages, AnObjectThatIsNotOursIsRefusedAndLeftAlone) {
    const std::string name = "/quorlix-foreign-" + std::to_string(getpid());
    const std::string text = "not ours\n";
    int fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    std::string error;
    EXPECT_FALSE(host::SharedStorages::create(name, quiet(), error));
    EXPECT_EQ(error, "shared memory " + name +
                         " is not quorlix-host storages (9 bytes without their header); it is left alone: choose "
                         "another --shm name");
    char back[16] = {};
    EXPECT_EQ(pread(fd, back, sizeof back, 0), static_cast<ssize_t>(text.size()));
    EXPECT_EQ(std::string(back), text);
    close(fd);
    shm_unlink(name.c_str());

    // Storages of an older layout of ours are made again.
    fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    const std::uint32_t older[3] = {QUORLIX_SHM_MAGIC, 3, 7000};
    ASSERT_EQ(write(fd, older, sizeof older), static_cast<ssize_t>(sizeof older));
    close(fd);
    auto storages = host::SharedStorages::create(name, quiet(), error);
    ASSERT_TRUE(storages) << error;
    EXPECT_EQ(storages->view().shm().version, QUORLIX_SHM_VERSION);
    storages.reset();

    // One a host made but was killed before it wrote the header: all zero.
    fd = shm_open(name.c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_EQ(ftruncate(fd, sizeof(quorlix_shm)), 0);
    close(fd);
    storages = host::SharedStorages::create(name, quiet(), error);
    EXPECT_TRUE(storages) << error;
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
