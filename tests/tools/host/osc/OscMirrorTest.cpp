// What a render node's mirror refuses to write, and how it counts losses.
#include "OscRig.h"
#include "SequenceGaps.h"

#include <gtest/gtest.h>

#include <lo/lo.h>

#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string shmName(const std::string& role) { return "quorlix-osc-" + role + "-" + std::to_string(getpid()); }

// Controller entry n's change counter, or with n = 0 their sum, read as a
// reader must.
std::uint32_t changes(const quorlix_shm& shm, std::uint32_t n = 0) {
    std::uint32_t sum = 0;
    for (std::uint32_t e = 1; e <= QUORLIX_SHM_ENTRIES; ++e) {
        quorlix_shm_controller entry{};
        quorlix_shm_read_controller(&shm, e, &entry);
        if (n == 0 || e == n) sum += entry.head.changes;
    }
    return sum;
}

// Sends one message as another program would.
void sendMessage(int port, const char* address, lo_message message, const char* host = "127.0.0.1") {
    lo_address to = lo_address_new(host, std::to_string(port).c_str());
    lo_send_message(to, address, message);
    lo_address_free(to);
    lo_message_free(message);
}

// A record (sequence 7) and the end of a keyframe of it alone, as a master
// of one controller sends them.
void sendKeyframe(int port, lo_message record, const char* host = "127.0.0.1") {
    lo_address to = lo_address_new(host, std::to_string(port).c_str());
    lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle_add_message(bundle, "/quorlix/controller", record);
    lo_message end = lo_message_new();
    for (int v : {8, 1, 0, 0, 0}) lo_message_add_int32(end, v);
    lo_bundle_add_message(bundle, "/quorlix/keyframe", end);
    lo_send_bundle(to, bundle);
    lo_bundle_free_recursive(bundle);
    lo_address_free(to);
}

lo_message recordMessage(const char* device, int entry, std::size_t size, int lost = 0) {
    std::vector<unsigned char> bytes(size, 0x5A);
    lo_message m = lo_message_new();
    lo_message_add_string(m, device);
    lo_message_add_int32(m, entry);
    lo_message_add_int32(m, 7);
    lo_blob blob = lo_blob_new(static_cast<std::int32_t>(size), bytes.data());
    lo_message_add_blob(m, blob);
    lo_blob_free(blob);
    lo_message_add_int32(m, lost);
    return m;
}

TEST(OscMirror, BadDatagramsAreCountedAndNeverWritten) {
    const int port = freeUdpPort();
    MirrorThread mirror(shmName("mirror"), std::to_string(port));
    ASSERT_TRUE(mirror.error.empty()) << mirror.error;
    const struct {
        const char* what;
        const char* address;
        std::function<lo_message()> message;
    } bad[] = {
        {"a controller record one byte short", "/quorlix/controller", [] { return recordMessage("wand", 1, 183); }},
        {"a tracker record of a controller's size", "/quorlix/tracker", [] { return recordMessage("wand", 1, 184); }},
        {"entry 0", "/quorlix/controller", [] { return recordMessage("wand", 0, 184); }},
        {"entry 33", "/quorlix/tracker", [] { return recordMessage("wand", 33, 56); }},
        {"a device name too long for the storage", "/quorlix/tracker",
         [] { return recordMessage("a-device-name-of-thirty-two-char", 1, 56); }},
        {"a lost mark of 2", "/quorlix/controller", [] { return recordMessage("wand", 1, 184, 2); }},
        {"an unknown address", "/quorlix/wand", [] { return recordMessage("wand", 1, 184); }},
        {"foreign type tags", "/quorlix/controller",
         [] {
             lo_message m = lo_message_new();
             lo_message_add_string(m, "wand");
             lo_message_add_float(m, 1.0f);
             lo_message_add_int32(m, 7);
             lo_message_add_string(m, "record");
             return m;
         }},
        {"a keyframe counting 33 entries", "/quorlix/keyframe",
         [] {
             lo_message m = lo_message_new();
             for (int v : {1, 33, 0, 0, 0}) lo_message_add_int32(m, v);
             return m;
         }},
    };
    std::uint64_t expected = 0;
    for (const auto& c : bad) {
        sendMessage(port, c.address, c.message());
        ++expected;
        EXPECT_TRUE(eventually([&] { return mirror.mirror().counts().bad == expected; }, 2000)) << c.what;
    }
    // Bytes that are no OSC at all.
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char garbage[] = "#bundle\0\0\0\0\0\0\0\0\0\xff\xff\xff\xff";
    // 20 bytes (a multiple of 4) whose element claims more than is there.
    sendto(fd, garbage, sizeof garbage - 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(fd);
    EXPECT_TRUE(eventually([&] { return mirror.mirror().counts().bad == expected + 1; }, 2000)) << "garbage";

    EXPECT_EQ(changes(mirror.region()), 0u) << "nothing was written";
    EXPECT_EQ(quorlix_shm_controller_count(&mirror.region()) + quorlix_shm_tracker_count(&mirror.region()), 0u);
    EXPECT_EQ(mirror.mirror().counts().records, 0u);
    EXPECT_TRUE(mirror.mirror().stale()) << "bad datagrams are not a sender";
}

TEST(OscMirror, WithFromOnlyThatHostIsHeard) {
    const struct {
        const char* from;
        bool heard;
    } cases[] = {{"localhost", true}, {"127.0.0.1", true}, {"192.0.2.77", false}};
    for (const auto& c : cases) {
        const int port = freeUdpPort();
        MirrorThread mirror(shmName("mirror"), std::to_string(port), c.from);
        ASSERT_TRUE(mirror.error.empty()) << mirror.error;
        sendKeyframe(port, recordMessage("wand", 1, 184));
        EXPECT_TRUE(eventually(
            [&] { return mirror.mirror().counts().keyframes + mirror.mirror().counts().foreign > 0; }, 2000))
            << c.from;
        EXPECT_EQ(mirror.mirror().counts().records, c.heard ? 1u : 0u) << c.from;
        EXPECT_EQ(changes(mirror.region()), c.heard ? 1u : 0u) << c.from;
    }
    // A node on two networks listens on one of its addresses, by number or
    // by name: what is sent to another of them (127.0.0.2 is this machine
    // too) is not heard.
    for (const char* address : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(address);
        const int port = freeUdpPort();
        const std::string url = std::string("osc.udp://") + address + ":" + std::to_string(port) + "/";
        MirrorThread mirror(shmName("mirror"), url);
        ASSERT_TRUE(mirror.error.empty()) << mirror.error;
        EXPECT_EQ(mirror.mirror().url(), url);
        sendKeyframe(port, recordMessage("wand", 2, 184), "127.0.0.2");
        sendKeyframe(port, recordMessage("wand", 1, 184));
        // Sent in this order on one machine: entry 2 would be heard first.
        EXPECT_TRUE(eventually([&] { return changes(mirror.region(), 1) > 0; }, 10000));
        EXPECT_EQ(changes(mirror.region(), 2), 0u) << "what came to 127.0.0.2 was heard";
        EXPECT_EQ(mirror.mirror().counts().records, 1u);
    }
    std::string error;
    const auto storages = host::SharedStorages::create("", host::LoggerSettings{}, error);
    host::MirrorStorages none(*storages);
    EXPECT_FALSE(host::OscMirror::create("7770", "no-such-host.invalid", none, nullptr, error));
    EXPECT_NE(error.find("--from no-such-host.invalid: "), std::string::npos) << error;
    const std::pair<const char*, const char*> unusable[] = {
        {"osc.tcp://:7770/", "--listen osc.tcp://:7770/: not a port or an OSC URL over UDP"},
        {"99999", "--listen 99999: needs a port from 1 to 65535"},
        {"osc.udp://239.255.42.1/", "--listen osc.udp://239.255.42.1/: needs a port from 1 to 65535"},
        {"osc.udp://192.0.2.1:7770/", "--listen osc.udp://192.0.2.1:7770/: 192.0.2.1 is not an address of this machine"},
    };
    for (const auto& u : unusable) {
        EXPECT_FALSE(host::OscMirror::create(u.first, "", none, nullptr, error)) << u.first;
        EXPECT_NE(error.find(u.second), std::string::npos) << error;
    }
}

TEST(OscMirror, SequenceGapsCountLostDatagrams) {
    const struct {
        std::vector<std::uint32_t> seen;
        std::uint64_t lost;
    } cases[] = {
        {{0, 1, 2, 3}, 0},
        {{5, 6, 9}, 2},                      // 7 and 8 lost
        {{0, 1, 1, 2}, 0},                   // repeated
        {{100, 101, 3, 4}, 0},               // the sender started again
        {{0xFFFFFFFEu, 0xFFFFFFFFu, 0, 1}, 0},  // wrapped
        {{0xFFFFFFFFu, 2}, 2},               // 0 and 1 lost across the wrap
        {{5, 10006, 10007}, 10000},          // as many as a host sends in seconds
        {{5, 10007, 10009}, 1},              // further: a restart, or another sender
        {{0, 0x7FFFFFFFu, 0, 0x7FFFFFFFu}, 0},  // alternating halves apart
    };
    for (const auto& c : cases) {
        host::SequenceGaps gaps;
        for (std::uint32_t s : c.seen) gaps.see(s);
        EXPECT_EQ(gaps.lost(), c.lost) << c.seen.front();
    }
}

}  // namespace
