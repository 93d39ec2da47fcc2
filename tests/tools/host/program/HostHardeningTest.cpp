// quorlix-host, watch and the C reader against what a shared machine can do
// to them: readers that keep a lock, objects made by somebody else, hosts
// that die or race for a name, signals and closed pipes.
#include "ChildProcess.h"
#include "Eventually.h"
#include "JsonCheck.h"
#include "TempDir.h"
#include "quorlix/shm.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string kHost = QUORLIX_HOST_PATH;
const std::string kSim = QUORLIX_SIM_PATH;

std::chrono::milliseconds limit(std::chrono::milliseconds native) { return underEmulator() ? native * 4 : native; }

std::string uniqueName(const char* what) { return std::string("quorlix-hard-") + what + "-" + std::to_string(getpid()); }

bool objectExists(const std::string& name) {
    int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

// A host with one wand on the simulator, its storages in shared memory NAME.
struct RunningHost {
    RunningHost(const std::string& name, const std::string& script, std::vector<std::string> extra = {})
        : sim({kSim, "--link", dir.path() + "/wand", "--stay", "--quiet", "-e", script}) {
        sim.waitForLines(1, limit(5s));
        std::string config = dir.file("wand.conf", "showdate off\nshowtime off\nshowthreadid off\n"
                                                   "device wand quorlix\nserialport " + dir.path() + "/wand\n");
        std::vector<std::string> argv = {kHost, config, "--shm", name};
        argv.insert(argv.end(), extra.begin(), extra.end());
        host.reset(new ChildProcess(argv));
        eventually([&] { return objectExists(name); }, static_cast<int>(limit(10s).count()));
    }
    TempDir dir;
    ChildProcess sim;
    std::unique_ptr<ChildProcess> host;
};

// The test's own mapping of a host's object, for playing a reader.
struct Mapping {
    explicit Mapping(const std::string& name) {
        int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
        if (fd < 0) return;
        void* p = mmap(nullptr, sizeof(quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        if (p != MAP_FAILED) shm = static_cast<quorlix_shm*>(p);
    }
    ~Mapping() {
        if (shm != nullptr) munmap(shm, sizeof *shm);
    }
    quorlix_shm* shm = nullptr;
};

// True once the first controller entry has been rewritten by its device
// (its counter moves past the entry's creation).
bool waitForPublished(const quorlix_shm& shm) {
    return eventually(
        [&] {
            return __atomic_load_n(&shm.controllers.count, __ATOMIC_ACQUIRE) >= 1 &&
                   __atomic_load_n(&shm.controllers.changes[0], __ATOMIC_ACQUIRE) >= 2;
        },
        static_cast<int>(limit(20s).count()));
}

// An object that looks like a host's, made by this test: `records` decides
// what lies in the entries.
void forgeObject(const std::string& name, mode_t mode, off_t size, uid_t owner,
                 void (*records)(quorlix_shm&) = nullptr) {
    shm_unlink(("/" + name).c_str());
    int fd = shm_open(("/" + name).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(sizeof(quorlix_shm))), 0);
    void* p = mmap(nullptr, sizeof(quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(p, MAP_FAILED);
    quorlix_shm& shm = *static_cast<quorlix_shm*>(p);
    for (pthread_mutex_t* m : {&shm.controllers.lock.mutex, &shm.trackers.lock.mutex}) {
        pthread_mutexattr_t a;
        pthread_mutexattr_init(&a);
        pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
        pthread_mutex_init(m, &a);
    }
    shm.magic = QUORLIX_SHM_MAGIC;
    shm.version = QUORLIX_SHM_VERSION;
    shm.size = sizeof shm;
    shm.host_pid = getpid();
    shm.running = 1;
    shm.controllers.count = 1;
    shm.controllers.changes[0] = 1;
    std::strcpy(shm.controllers.owner[0], "invented");
    if (records != nullptr) records(shm);
    munmap(p, sizeof shm);
    ASSERT_EQ(ftruncate(fd, size), 0);
    ASSERT_EQ(fchmod(fd, mode), 0);
    if (owner != geteuid()) {
        ASSERT_EQ(fchown(fd, owner, static_cast<gid_t>(-1)), 0);
    }
    ::close(fd);
}

TEST(HostHardening, AReaderHoldingALockNeitherWedgesTheHostNorGoesUnseen) {
    if (underEmulator())
        GTEST_SKIP() << "under qemu-i386 /proc shows the emulator's own system calls, so the host cannot tell "
                        "which lock a device waits for";
    std::string name = uniqueName("lock");
    RunningHost run(name, "repeat 200 { press 1; wait 30ms; release; wait 30ms }", {"--plain"});
    ASSERT_TRUE(objectExists(name)) << run.host->errorText();
    Mapping reader(name);
    ASSERT_NE(reader.shm, nullptr);
    // Only a device that runs can be kept waiting: the lock is taken once it
    // has published a record of the script.
    ASSERT_TRUE(waitForPublished(*reader.shm)) << run.host->errorText();
    ASSERT_EQ(quorlix_shm_lock(&reader.shm->controllers.lock.mutex), 0);

    // The view names the holder; so does the log, once.
    std::string holder = "held by process " + std::to_string(getpid());
    EXPECT_TRUE(run.host->waitForLine(
        [&](const std::string& l) { return l.find("!! the controllers lock is " + holder) != std::string::npos; },
        limit(5s)))
        << run.host->outputText();
    EXPECT_TRUE(run.host->waitForErrorText("for more than a second", limit(2s))) << run.host->errorText();

    auto sent = std::chrono::steady_clock::now();
    run.host->signal(SIGINT);
    int status = run.host->wait(limit(5s));
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
    quorlix_shm_unlock(&reader.shm->controllers.lock.mutex);
    EXPECT_EQ(status, 1) << "a device was left behind";
    EXPECT_LT(took.count(), limit(2000ms).count());
    std::printf("the host stopped %lld ms after SIGINT with the lock held\n", static_cast<long long>(took.count()));
    EXPECT_NE(run.host->errorText().find("wand: did not stop within 1500 ms: it waits for the controllers lock, " +
                                         holder),
              std::string::npos)
        << run.host->errorText();
    EXPECT_FALSE(objectExists(name)) << "the name is given up all the same";
}

TEST(HostHardening, ReadersRefuseObjectsTheyCannotTrust) {
    std::string name = uniqueName("trust");
    const uid_t me = geteuid();
    struct Case {
        const char* what;
        mode_t mode;
        off_t size;
        bool otherUser;
        const char* refusal;
    };
    const Case cases[] = {
        {"another user's, with invented records", 0644, sizeof(quorlix_shm), true, "belongs to user 65534, not to user"},
        {"writable by every user", 0666, sizeof(quorlix_shm), false, "can be written by every user (mode 666)"},
        {"cut short", 0600, 4096, false, "is 4096 bytes, smaller than the"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.otherUser && me != 0) {
            std::printf("skipped: making another user's object needs root\n");
            continue;
        }
        forgeObject(name, c.mode, c.size, c.otherUser ? 65534 : me);
        for (std::vector<std::string> argv : {std::vector<std::string>{kHost, "watch", "--shm", name, "--json", "--once"},
                                              std::vector<std::string>{QUORLIX_SHM_READER_PATH, name}}) {
            ChildProcess reader(argv);
            EXPECT_EQ(reader.wait(limit(5s)), 1) << argv[0];
            EXPECT_EQ(reader.outputText(), "") << "nothing of it is shown";
            EXPECT_NE(reader.errorText().find(c.refusal), std::string::npos) << reader.errorText();
        }
    }
    // Named with --owner, that user's object is read.
    if (me == 0) {
        forgeObject(name, 0644, sizeof(quorlix_shm), 65534);
        ChildProcess watch({kHost, "watch", "--shm", name, "--once", "--owner", "nobody"});
        EXPECT_EQ(watch.wait(limit(5s)), 0) << watch.errorText();
        EXPECT_NE(watch.outputText().find("controller 1 invented"), std::string::npos);
    }
    shm_unlink(("/" + name).c_str());
}

TEST(HostHardening, JsonStaysValidWhateverTheStorageHolds) {
    std::string name = uniqueName("json");
    forgeObject(name, 0600, sizeof(quorlix_shm), geteuid(), [](quorlix_shm& shm) {
        shm.controllers.count = 3;
        shm.trackers.count = 1;
        const char* owners[] = {"\x1b]0;PWNED\x07\x1b[2J", "caf\xc3\xa9 \xff\xfe \xc2\x9b \"q\" \\", "\x7f\x80"};
        for (int n = 0; n < 3; ++n) {
            std::strcpy(shm.controllers.owner[n], owners[n]);
            shm.controllers.changes[n] = 1;
            std::memset(&shm.con[n], 0xff - n, sizeof shm.con[n]);  // time stamps out of range, counts huge
        }
        std::memset(&shm.trackers.owner[0], 0xe9, QUORLIX_SHM_OWNER_SIZE);  // not terminated, not UTF-8
        shm.trackers.changes[0] = 1;
        std::memset(&shm.tra[0], 0x80, sizeof shm.tra[0]);
    });
    ChildProcess json({kHost, "watch", "--shm", name, "--json", "--once"});
    EXPECT_EQ(json.wait(limit(5s)), 0) << json.errorText();
    ASSERT_EQ(json.lines().size(), 4u) << json.outputText();
    for (const std::string& line : json.lines()) EXPECT_TRUE(isJsonValue(line)) << line;

    ChildProcess plain({kHost, "watch", "--shm", name, "--once"});
    EXPECT_EQ(plain.wait(limit(5s)), 0);
    EXPECT_EQ(plain.outputText().find('\x1b'), std::string::npos) << "no terminal control passes";
    EXPECT_NE(plain.outputText().find("controller 1 \\x1b]0;PWNED\\x07\\x1b[2J"), std::string::npos)
        << plain.outputText();
    shm_unlink(("/" + name).c_str());
}

TEST(HostHardening, AHostThatDiesIsNoticedAndItsNameTakenOverByOneHostOnly) {
    std::string name = uniqueName("dies");
    RunningHost run(name, "press 4", {"--no-view"});
    ASSERT_TRUE(objectExists(name)) << run.host->errorText();
    ChildProcess watch({kHost, "watch", "--shm", name});
    ASSERT_TRUE(watch.waitForLines(1, limit(5s))) << watch.errorText();
    run.host->signal(SIGKILL);
    run.host->wait(limit(5s));
    EXPECT_EQ(watch.wait(limit(3s)), 1) << "watch ends when the host is gone";
    EXPECT_NE(watch.errorText().find("is gone without stopping"), std::string::npos) << watch.errorText();
    ChildProcess once({kHost, "watch", "--shm", name, "--once"});
    EXPECT_EQ(once.wait(limit(5s)), 1);
    EXPECT_NE(once.outputText().find("controller 1 wand"), std::string::npos);
    EXPECT_NE(once.errorText().find("these were its last records"), std::string::npos) << once.errorText();

    // Two hosts started together on the stale name: exactly one runs, the
    // other names it; and so again after the winner dies too.
    std::string config = run.dir.file("idle.conf", "device wand quorlix\nserialport " + run.dir.path() + "/none\n");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ChildProcess a({kHost, config, "--shm", name, "--no-view", "--keep-going"});
        ChildProcess b({kHost, config, "--shm", name, "--no-view", "--keep-going"});
        // The loser ends by itself, saying why; the winner runs on.
        ChildProcess* loser = nullptr;
        eventually(
            [&] {
                loser = !a.running() ? &a : !b.running() ? &b : nullptr;
                return loser != nullptr;
            },
            static_cast<int>(limit(20s).count()));
        ASSERT_NE(loser, nullptr) << "both run: " << a.errorText() << b.errorText();
        ChildProcess& winner = loser == &a ? b : a;
        EXPECT_EQ(loser->wait(limit(1s)), 1);
        EXPECT_NE(loser->errorText().find("is in use by another host"), std::string::npos) << loser->errorText();
        EXPECT_TRUE(winner.running()) << winner.errorText();
        winner.signal(SIGKILL);
        winner.wait(limit(5s));
    }
    shm_unlink(("/" + name).c_str());
    shm_unlink(("/" + name + ".lock").c_str());
}

TEST(HostHardening, HangUpQuitAndAClosedPipeEndTheHostCleanly) {
    for (int signal : {SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signal);
        std::string name = uniqueName("signal");
        RunningHost run(name, "press 5", {"--no-view"});
        // The object exists only once the host takes its stop signals itself.
        ASSERT_TRUE(objectExists(name)) << run.host->errorText();
        run.host->signal(signal);
        EXPECT_EQ(run.host->wait(limit(2s)), 0) << run.host->errorText();
        EXPECT_FALSE(objectExists(name));
    }
    // The wand would go on for many seconds; the reader takes one line and goes.
    TempDir dir;
    ChildProcess sim({kSim, "--link", dir.path() + "/wand", "--stay", "--quiet", "-e",
                      "repeat 300 { press 1; wait 50ms; release; wait 50ms }"});
    ASSERT_TRUE(sim.waitForLines(1, limit(5s)));
    std::string config = dir.file("wand.conf", "device wand quorlix\nserialport " + dir.path() + "/wand\n");
    std::string host;
    for (const std::string& word : emulatorWords()) host += "'" + word + "' ";
    host += "'" + kHost + "'";
    ChildProcess pipe({"/bin/bash", "-c", "set -o pipefail; " + host + " '" + config + "' --json | head -n 1"});
    EXPECT_EQ(pipe.wait(limit(20s)), 0) << pipe.errorText();
    EXPECT_EQ(pipe.lines().size(), 1u);
}

}  // namespace
