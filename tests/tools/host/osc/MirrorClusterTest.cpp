// A render node's mirror as a dying master, a forger and a lossy network meet
// it: the real program, with this test as every sender and as its reader.
#include "ChildProcess.h"
#include "OscRig.h"
#include "quorlix/shm.h"

#include <gtest/gtest.h>

#include <lo/lo.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <regex>

namespace {

using namespace std::chrono_literals;

const std::string kHost = QUORLIX_HOST_PATH;

std::chrono::milliseconds limit(std::chrono::milliseconds native) { return underEmulator() ? native * 4 : native; }
int limitMs(std::chrono::milliseconds native) { return static_cast<int>(limit(native).count()); }

// A controller record as a host stores it: 11 buttons, two valuators.
quorlix_con_data controllerRecord(std::initializer_list<int> pressed, int valuatorMilli = 0) {
    quorlix_con_data r{};
    r.number = htonl(1);
    r.time_sec = static_cast<std::int32_t>(htonl(1700000000));
    r.button_count = htonl(11);
    r.valuator_count = htonl(2);
    r.button_bytes = 2;
    for (int b : pressed) r.buttons[(b - 1) / 8] |= static_cast<std::uint8_t>(1u << ((b - 1) % 8));
    r.valuators[0] = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(valuatorMilli)));
    return r;
}

// One host's datagrams, from a port of its own (a sender of its own).
class Sender {
public:
    explicit Sender(int port) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self);
        to_.sin_family = AF_INET;
        to_.sin_port = htons(static_cast<std::uint16_t>(port));
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~Sender() { close(fd_); }

    std::uint32_t sequence = 0;

    lo_message record(const char* device, int entry, const void* bytes, int size, bool lost = false) {
        lo_message m = lo_message_new();
        lo_message_add_string(m, device);
        lo_message_add_int32(m, entry);
        lo_message_add_int32(m, static_cast<std::int32_t>(sequence++));
        lo_blob blob = lo_blob_new(size, bytes);
        lo_message_add_blob(m, blob);
        lo_blob_free(blob);
        lo_message_add_int32(m, lost ? 1 : 0);
        return m;
    }
    lo_message controller(const char* device, int entry, const quorlix_con_data& r, bool lost = false) {
        return record(device, entry, &r, sizeof r, lost);
    }
    lo_message tracker(const char* device, int entry) {
        quorlix_tra_data r{};
        r.x = static_cast<std::int32_t>(htonl(100000));
        return record(device, entry, &r, sizeof r);
    }
    lo_message keyframeEnd(int controllers, int trackers, int controllersLost = 0, int trackersLost = 0) {
        lo_message m = lo_message_new();
        lo_message_add_int32(m, static_cast<std::int32_t>(sequence++));
        for (int v : {controllers, trackers, controllersLost, trackersLost}) lo_message_add_int32(m, v);
        return m;
    }

    // One bundle of these messages, freed once sent.
    void bundle(const std::vector<std::pair<const char*, lo_message>>& messages) {
        lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
        for (const auto& m : messages) lo_bundle_add_message(b, m.first, m.second);
        std::size_t size = 0;
        void* bytes = lo_bundle_serialise(b, nullptr, &size);
        raw(bytes, size);
        std::free(bytes);
        lo_bundle_free_recursive(b);
    }
    void message(const char* address, lo_message m) {
        std::size_t size = 0;
        void* bytes = lo_message_serialise(m, address, nullptr, &size);
        raw(bytes, size);
        std::free(bytes);
        lo_message_free(m);
    }
    void raw(const void* bytes, std::size_t size) {
        sendto(fd_, bytes, size, 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
    }

    // A keyframe as a host sends it: a bundle per entry in use, then its end.
    void keyframe(const std::vector<std::pair<const char*, quorlix_con_data>>& controllers, int trackers = 0,
                  int controllersLost = 0) {
        int entry = 0;
        for (const auto& c : controllers) {
            ++entry;
            bundle({{"/quorlix/controller", controller(c.first, entry, c.second, (controllersLost >> (entry - 1)) & 1)}});
        }
        for (int t = 1; t <= trackers; ++t) bundle({{"/quorlix/tracker", tracker("wand", t)}});
        bundle({{"/quorlix/keyframe",
                 keyframeEnd(static_cast<int>(controllers.size()), trackers, controllersLost, 0)}});
    }
    void goodbye() {
        lo_message m = lo_message_new();
        lo_message_add_int32(m, static_cast<std::int32_t>(sequence++));
        bundle({{"/quorlix/goodbye", m}});
    }

private:
    int fd_ = -1;
    sockaddr_in to_{};
};

// `quorlix-host mirror` on a port of its own, and this test as its reader.
class Node {
public:
    explicit Node(std::vector<std::string> extra = {})
        : name_("quorlix-cluster-" + std::to_string(getpid()) + "-" + std::to_string(++made_)),
          port_(freeUdpPort()),
          process_(command(extra)) {
        if (!process_.waitForErrorText("listening on", limit(5s))) return;
        char why[256];
        shm_ = quorlix_shm_attach(name_.c_str(), getuid(), why, sizeof why);
    }
    ~Node() {
        if (shm_ != nullptr) quorlix_shm_detach(shm_);
        // Stopped, not killed: a killed mirror leaves its object for readers.
        process_.stop();
    }
    bool ready() const { return shm_ != nullptr; }
    const std::string& name() const { return name_; }
    int port() const { return port_; }
    ChildProcess& process() { return process_; }

    quorlix_shm_controller controller(std::uint32_t n) const {
        quorlix_shm_controller e{};
        quorlix_shm_read_controller(shm_, n, &e);
        return e;
    }
    quorlix_shm_tracker tracker(std::uint32_t n) const {
        quorlix_shm_tracker e{};
        quorlix_shm_read_tracker(shm_, n, &e);
        return e;
    }
    std::uint32_t controllers() const { return quorlix_shm_controller_count(shm_); }
    std::uint32_t trackers() const { return quorlix_shm_tracker_count(shm_); }
    bool stale() const { return quorlix_shm_word(&shm_->stale) != 0; }
    std::int32_t valuatorMilli(std::uint32_t entry) const {
        return quorlix_net_i32(controller(entry).record.valuators[0]);
    }
    bool pressed(std::uint32_t entry, std::uint32_t button) const {
        const quorlix_shm_controller e = controller(entry);
        return quorlix_con_button(&e.record, button) != 0;
    }
    // The summary it ends with.
    std::string stop() {
        process_.signal(SIGTERM);
        process_.wait(limit(5s));
        return process_.errorText();
    }

private:
    std::vector<std::string> command(const std::vector<std::string>& extra) const {
        std::vector<std::string> args{kHost, "mirror", "--listen", std::to_string(port_), "--shm", name_};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    static int made_;
    std::string name_;
    int port_;
    ChildProcess process_;
    quorlix_shm* shm_ = nullptr;
};
int Node::made_ = 0;

TEST(MirrorCluster, AMasterThatFallsSilentOrSaysGoodbyeLeavesNothingPressed) {
    for (const bool goodbye : {false, true}) {
        SCOPED_TRACE(goodbye ? "a master that stops" : "a master killed or cut off");
        Node node;
        ASSERT_TRUE(node.ready()) << node.process().errorText();
        Sender master(node.port());
        master.keyframe({{"wand", controllerRecord({2, 7}, 500)}}, 1);
        ASSERT_TRUE(eventually([&] { return !node.stale() && node.pressed(1, 2) && node.pressed(1, 7); },
                               limitMs(5000ms)));

        if (goodbye) master.goodbye();
        // A silent master is released after its silence, 3 s; one that says
        // goodbye at once. Either way nothing stays pressed.
        // Its note comes after everything is written.
        ASSERT_TRUE(node.process().waitForErrorText(goodbye ? "said goodbye" : "for 3 s: its buttons are released",
                                                    limit(10s)))
            << node.process().errorText();
        const quorlix_shm_controller released = node.controller(1);
        for (std::uint32_t b = 1; b <= 11; ++b) EXPECT_EQ(quorlix_con_button(&released.record, b), 0) << b;
        EXPECT_EQ(quorlix_con_valuator(&released.record, 1), 0.0f);
        EXPECT_STREQ(released.head.owner, "wand") << "the entry stays the device's";
        EXPECT_NE(node.tracker(1).head.lost, 0u);
        EXPECT_EQ(quorlix_tra_value(node.tracker(1).record.x), 1.0f) << "a pose stays where it was";
        EXPECT_TRUE(node.stale());

        // Heard again: its next keyframe makes the storages current.
        master.keyframe({{"wand", controllerRecord({4})}}, 1);
        EXPECT_TRUE(eventually([&] { return !node.stale() && node.pressed(1, 4); }, limitMs(5000ms)));
        EXPECT_EQ(node.controller(1).head.lost, 0u);
        EXPECT_EQ(node.tracker(1).head.lost, 0u);
    }
}

TEST(MirrorCluster, EachKeyframeLeavesExactlyTheMastersState) {
    Node node;
    ASSERT_TRUE(node.ready()) << node.process().errorText();
    Sender master(node.port()), forger(node.port()), restarted(node.port());
    // A second host that publishes to the node while the master is heard
    // does not take it over.
    Sender second(node.port());
    master.keyframe({{"wand", controllerRecord({})}, {"second", controllerRecord({3})}}, 1);
    ASSERT_TRUE(eventually([&] { return !node.stale() && node.controllers() == 2 && node.pressed(2, 3); },
                           limitMs(5000ms)));

    // What a forger sends changes nothing: a stray record (for an entry in
    // use, and for one that is not), an end of a keyframe it never sent,
    // with counts of 8. Nor does such an end from the master itself.
    forger.bundle({{"/quorlix/controller", forger.controller("ghost", 2, controllerRecord({1, 2, 3, 4, 5, 6, 7, 8}))}});
    forger.bundle({{"/quorlix/controller", forger.controller("ghost", 3, controllerRecord({1}))}});
    forger.bundle({{"/quorlix/keyframe", forger.keyframeEnd(8, 8)}});
    master.bundle({{"/quorlix/keyframe", master.keyframeEnd(8, 8)}});
    // A keyframe whose lost marks disagree with its records is no keyframe.
    master.bundle({{"/quorlix/controller", master.controller("wand", 1, controllerRecord({}))}});
    master.bundle({{"/quorlix/keyframe", master.keyframeEnd(1, 0, 1, 0)}});
    // The master's own next change shows that all of the above was read.
    master.bundle({{"/quorlix/controller", master.controller("wand", 1, controllerRecord({9}))}});
    ASSERT_TRUE(eventually([&] { return node.pressed(1, 9); }, limitMs(5000ms)));
    EXPECT_EQ(node.controllers(), 2u);
    EXPECT_EQ(node.trackers(), 1u);
    EXPECT_STREQ(node.controller(2).head.owner, "second");
    EXPECT_TRUE(node.pressed(2, 3));
    EXPECT_FALSE(node.pressed(2, 1));
    EXPECT_STREQ(node.controller(3).head.owner, "");

    second.keyframe({{"laptop", controllerRecord({1})}});
    master.bundle({{"/quorlix/controller", master.controller("wand", 1, controllerRecord({10}))}});
    ASSERT_TRUE(eventually([&] { return node.pressed(1, 10); }, limitMs(5000ms)));
    EXPECT_EQ(node.controllers(), 2u);
    EXPECT_STREQ(node.controller(1).head.owner, "wand");

    // The master says goodbye and starts again with one device, its line
    // lost: the node is left with exactly that.
    master.goodbye();
    restarted.keyframe({{"wand", controllerRecord({})}}, 0, 1);
    ASSERT_TRUE(eventually(
        [&] { return node.controllers() == 1 && node.trackers() == 0 && node.controller(2).head.changes == 0; },
        limitMs(5000ms)));
    EXPECT_NE(node.controller(1).head.lost, 0u);
    EXPECT_FALSE(node.pressed(1, 9));
    const quorlix_shm_controller gone = node.controller(2);
    EXPECT_STREQ(gone.head.owner, "");
    EXPECT_EQ(gone.head.changes, 0u);
    EXPECT_EQ(quorlix_con_button(&gone.record, 3), 0);
    EXPECT_EQ(node.tracker(1).head.changes, 0u);

    const std::string summary = node.stop();
    EXPECT_TRUE(std::regex_search(summary, std::regex("[0-9]+ keyframes \\(3 incomplete\\)"))) << summary;
    EXPECT_NE(summary.find("following 127.0.0.1:"), std::string::npos) << summary;
    EXPECT_NE(summary.find("(its keyframe took over)"), std::string::npos) << summary;
    EXPECT_NE(summary.find("publishes too: not followed while 127.0.0.1:"), std::string::npos) << summary;
}

TEST(MirrorCluster, ADatagramIsUsedWholeAtItsExactAddressOrNotAtAll) {
    Node node;
    ASSERT_TRUE(node.ready()) << node.process().errorText();
    Sender master(node.port());
    master.keyframe({{"wand", controllerRecord({})}}, 1);
    ASSERT_TRUE(eventually([&] { return !node.stale(); }, limitMs(5000ms)));
    const quorlix_con_data all = controllerRecord({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    const auto pressAllAt = [&](const char* address) {
        return [&master, &all, address] { master.bundle({{address, master.controller("wand", 1, all)}}); };
    };
    const struct {
        const char* what;
        std::function<void()> send;
    } refused[] = {
        {"a pattern matching every address", pressAllAt("/quorlix/*")},
        {"a pattern of one character", pressAllAt("/quorlix/controlle?")},
        {"a pattern of any top level", pressAllAt("/*")},
        {"a pattern of alternatives", pressAllAt("/quorlix/{controller,tracker}")},
        {"a pattern of a character class", pressAllAt("/quorlix/[c]ontroller")},
        {"a keyframe end under a pattern",
         [&] { master.bundle({{"/quorlix/*", master.keyframeEnd(1, 32)}}); }},
        {"a good record bundled with a message at an address not ours",
         [&] {
             lo_message other = lo_message_new();
             lo_message_add_int32(other, 1);
             master.bundle({{"/quorlix/controller", master.controller("wand", 1, all)}, {"/quorlix/wand", other}});
         }},
        {"a good record bundled with a record of the wrong size",
         [&] {
             master.bundle({{"/quorlix/controller", master.controller("wand", 1, all)},
                            {"/quorlix/tracker", master.record("wand", 1, &all, 55)}});
         }},
        {"a good record bundled with buttons of the wrong type tags",
         [&] {
             lo_message buttons = lo_message_new();
             lo_message_add_string(buttons, "wand");
             lo_message_add_int32(buttons, 1);
             lo_message_add_float(buttons, 1.0f);
             master.bundle({{"/quorlix/controller", master.controller("wand", 1, all)},
                            {"/quorlix/controller/buttons", buttons}});
         }},
        {"a good bundle cut short",
         [&] {
             lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
             lo_bundle_add_message(b, "/quorlix/controller", master.controller("wand", 1, all));
             lo_bundle_add_message(b, "/quorlix/controller", master.controller("wand", 1, all));
             std::size_t size = 0;
             void* bytes = lo_bundle_serialise(b, nullptr, &size);
             master.raw(bytes, size - 8);
             std::free(bytes);
             lo_bundle_free_recursive(b);
         }},
    };
    int probe = 0;
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        const std::uint32_t changes = node.controller(1).head.changes;
        r.send();
        // The master's next change, from the same port, is read after it.
        ++probe;
        master.bundle({{"/quorlix/controller", master.controller("wand", 1, controllerRecord({}, probe))}});
        ASSERT_TRUE(eventually(
            [&] {
                return node.valuatorMilli(1) == probe;
            },
            limitMs(5000ms)));
        EXPECT_EQ(node.controller(1).head.changes, changes + 1) << "only the probe was written";
        EXPECT_EQ(node.controllers(), 1u);
        EXPECT_EQ(node.trackers(), 1u);
    }
    const std::string summary = node.stop();
    EXPECT_NE(summary.find(", " + std::to_string(std::size(refused)) + " bad, "), std::string::npos) << summary;
    EXPECT_NE(summary.find("the last from 127.0.0.1:"), std::string::npos) << summary;
}

TEST(MirrorCluster, LossIsCountedPerSenderAndSaidSparingly) {
    Node node;
    ASSERT_TRUE(node.ready()) << node.process().errorText();
    Sender master(node.port()), other(node.port()), flood(node.port());
    master.keyframe({{"wand", controllerRecord({})}});
    ASSERT_TRUE(eventually([&] { return !node.stale(); }, limitMs(5000ms)));
    // The master loses one datagram in five; a second sender on the same
    // address keeps a sequence of its own; a third alternates its numbers
    // as far apart as they go. Sent no faster than the node reads, so that
    // nothing is lost on the way.
    std::uint64_t skipped = 0;
    for (int n = 1; n <= 2000; ++n) {
        if (n % 10 == 0) {
            ASSERT_TRUE(eventually([&] { return node.valuatorMilli(1) == (n - 1) % 1000; }, limitMs(5000ms)));
        }
        if (n % 5 == 0) {
            ++master.sequence;
            ++skipped;
        }
        master.bundle({{"/quorlix/controller", master.controller("wand", 1, controllerRecord({}, n % 1000))}});
        other.bundle({{"/quorlix/controller", other.controller("wand", 1, controllerRecord({}))}});
        flood.sequence = (n % 2 == 0) ? 0u : 0x7FFFFFFFu;
        flood.bundle({{"/quorlix/controller", flood.controller("wand", 1, controllerRecord({}))}});
    }
    // A restart-sized jump of the master's own numbers is no loss.
    master.sequence += 0x7FFFFFFFu;
    master.bundle({{"/quorlix/controller", master.controller("wand", 1, controllerRecord({5}))}});
    ASSERT_TRUE(eventually([&] { return node.pressed(1, 5); }, limitMs(10000ms)));

    const std::string log = node.stop();
    EXPECT_NE(log.find(" " + std::to_string(skipped) + " lost, "), std::string::npos)
        << "only the master's own gaps: " << skipped << "\n" << log;
    // Said once at first, then at most every ten seconds.
    std::size_t lossLines = 0;
    for (std::size_t at = log.find(" lost"); at != std::string::npos; at = log.find(" lost", at + 1))
        if (log.compare(at, 10, " lost (") == 0 || log.compare(at, 14, " lost in the l") == 0) ++lossLines;
    EXPECT_LE(lossLines, 2u) << log;
    EXPECT_LT(std::count(log.begin(), log.end(), '\n'), 12) << log;
}

TEST(MirrorCluster, AStoppedReaderCannotHoldTheMirror) {
    Node node;
    ASSERT_TRUE(node.ready()) << node.process().errorText();
    // Readers map it read-only and take no lock: one stopped while it reads
    // holds nothing the mirror waits for.
    ChildProcess reader({QUORLIX_SHM_READER_PATH, node.name(), "--follow"});
    ASSERT_TRUE(reader.waitForErrorText("the mirror follows no host now", limit(5s))) << reader.errorText();
    reader.signal(SIGSTOP);
    node.process().signal(SIGTERM);
    EXPECT_EQ(node.process().wait(limit(3s)), 0) << node.process().errorText();
    reader.signal(SIGKILL);
}

}  // namespace
