// What the publisher refuses and how it fails without holding anyone up.
#include "ChangeQueue.h"
#include "OscPublisher.h"
#include "OscRig.h"

#include <gtest/gtest.h>

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
    EXPECT_TRUE(eventually([&] { return publisher->sendFailures() > 0; }, 5000));
    EXPECT_NE(publisher->status().find("last failure osc.udp://no-such-host.invalid:7770/: "), std::string::npos)
        << publisher->status();
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
