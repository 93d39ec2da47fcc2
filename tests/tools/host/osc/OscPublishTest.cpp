// What the publisher refuses and how it fails without holding anyone up.
#include "ChangeQueue.h"
#include "OscPublisher.h"
#include "OscRig.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

TEST(OscPublish, UnusableTargetsAreRefusedAndFailedSendsCounted) {
    std::string error;
    auto storages = host::SharedStorages::create("", host::LoggerSettings{}, error);
    ASSERT_TRUE(storages) << error;
    const struct {
        std::string url;
        int ttl;
        const char* message;
    } refused[] = {
        {"render1:7770", 0, "--osc render1:7770: not an OSC URL over UDP"},
        {"osc.tcp://render1:7770/", 0, "not an OSC URL over UDP"},
        {"osc.udp://render1/", 0, "--osc osc.udp://render1/: needs a host and a port (1 to 65535)"},
        {"osc.udp://render1:99999/", 0, "needs a host and a port (1 to 65535)"},
        {"osc.udp://239.255.42.1:7770/", 256, "--osc-ttl 256: a multicast TTL is 1 to 255"},
    };
    for (const auto& c : refused) {
        host::OscSettings settings;
        settings.receivers = {{c.url}};
        settings.ttl = c.ttl;
        error.clear();
        EXPECT_FALSE(host::OscPublisher::create(settings, *storages, error)) << c.url;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }

    // A receiver that cannot be reached costs a count, not the publisher.
    host::OscSettings settings;
    settings.receivers = {{"osc.udp://no-such-host.invalid:7770/"}};
    auto publisher = host::OscPublisher::create(settings, *storages, error);
    ASSERT_TRUE(publisher) << error;
    publisher->start();
    EXPECT_TRUE(eventually(
        [&] { return publisher->status().find("osc.udp://no-such-host.invalid:7770/: 0 sent, ") != std::string::npos &&
                     publisher->status().find(" lost (no address: ") != std::string::npos; },
        10000))
        << publisher->status();
}

// A UDP socket on a free port of this machine, counting what reaches it.
class Receiver {
public:
    Receiver() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof self;
        bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &size);
        port_ = ntohs(self.sin_port);
    }
    ~Receiver() { close(fd_); }
    std::string url() const { return udpUrl(port_); }
    std::size_t received() {
        char datagram[2048];
        while (recv(fd_, datagram, sizeof datagram, 0) > 0) ++count_;
        return count_;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::size_t count_ = 0;
};

TEST(OscPublish, AReceiverWhoseNameHangsDelaysNoOther) {
    std::string error;
    auto storages = host::SharedStorages::create("", host::LoggerSettings{}, error);
    ASSERT_TRUE(storages) << error;
    // The name "hanging" is looked up until the test lets it go, as a name
    // server that does not answer keeps it. The lookup may outlive the test.
    struct Gate {
        std::mutex mutex;
        std::condition_variable wake;
        bool letGo = false;
        std::atomic<int> lookups{0};
    };
    auto gate = std::make_shared<Gate>();
    host::OscSettings settings;
    settings.resolve = [gate](const std::string& name, const std::string& port, host::OscLookup& to) {
        ++gate->lookups;
        if (name == "hanging") {
            std::unique_lock<std::mutex> lock(gate->mutex);
            gate->wake.wait(lock, [&] { return gate->letGo; });
            return EAI_AGAIN;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::memcpy(&to.address, &address, sizeof address);
        to.size = sizeof address;
        return 0;
    };
    Receiver fast;
    settings.receivers = {{"osc.udp://hanging:7770/"}, {fast.url()}};
    auto publisher = host::OscPublisher::create(settings, *storages, error);
    ASSERT_TRUE(publisher) << error;
    publisher->start();

    constexpr int kChanges = 200;
    host::ChangeEvent event;
    const std::string device = "wand";
    event.device = &device;
    event.entry = 1;
    for (int n = 0; n < kChanges; ++n) {
        event.con.number = static_cast<std::uint32_t>(n);
        publisher->changed(event);
        // Paced as a wand's line paces them, so that loopback drops none.
        if (n % 50 == 49) {
            ASSERT_TRUE(eventually([&] { return fast.received() >= static_cast<std::size_t>(n); }, 5000));
        }
    }
    EXPECT_TRUE(eventually([&] { return fast.received() >= kChanges; }, 5000)) << fast.received();
    EXPECT_TRUE(eventually([&] { return publisher->sendFailures() >= kChanges; }, 5000))
        << "each change the hanging receiver could not take is counted";
    EXPECT_NE(publisher->status().find("osc.udp://hanging:7770/: 0 sent, "), std::string::npos) << publisher->status();

    // Stopping waits for no lookup.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(publisher->stop(before + 2s));
    publisher.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(gate->lookups.load(), 1) << "a name is looked up once while it hangs; an address needs none";
    {
        std::lock_guard<std::mutex> lock(gate->mutex);
        gate->letGo = true;
    }
    gate->wake.notify_all();
}

TEST(OscPublish, AFullQueueDropsAndCountsInsteadOfWaiting) {
    host::ChangeQueue queue(2);
    host::PublishedRecord record;
    EXPECT_TRUE(queue.push(record));
    EXPECT_TRUE(queue.push(record));
    EXPECT_FALSE(queue.push(record));
    EXPECT_EQ(queue.dropped(), 1u);
    std::vector<host::PublishedRecord> taken;
    queue.takeAll(taken, std::chrono::steady_clock::now());
    EXPECT_EQ(taken.size(), 2u);
    EXPECT_TRUE(queue.push(record)) << "room again once the sender took them";
}

}  // namespace
