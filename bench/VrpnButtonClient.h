#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <utility>

// A VRPN application's view of one device's buttons: connects to a VRPN
// server over TCP, greets it with the cookie, and on a thread of its own
// waits in poll() for messages, keeping the device's buttons from
// "vrpn_Button States" and "vrpn_Button Change" where a probe can look.
class VrpnButtonClient {
public:
    // `device`: the VRPN device (sender) name, the host's device name.
    explicit VrpnButtonClient(std::string device) : device_(std::move(device)) {}
    ~VrpnButtonClient();
    VrpnButtonClient(const VrpnButtonClient&) = delete;
    VrpnButtonClient& operator=(const VrpnButtonClient&) = delete;

    // How its thread waits for the server's bytes.
    struct Waiting {
        // Looks at the socket without a pause, as an application's main
        // loop does on a core of its own; else sleeps in poll().
        bool looks = true;
        int fifoPriority = 0;  // SCHED_FIFO for a thread that sleeps; 0: normal
    };
    // Connects to `address` (IPv4) and `port`; "" once the device's button
    // states have come, else why not.
    std::string start(const std::string& address, int port, Waiting waiting, std::chrono::milliseconds timeout);
    // The buttons now, VRPN button b at bit b (the wand's button b + 1, as buttonBits).
    std::uint32_t buttons() const { return bits_.load(std::memory_order_acquire); }

private:
    void run();
    void take(const char* message, std::uint32_t length);

    std::string device_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    Waiting waiting_;
    std::atomic<int> state_{0};  // 0 waiting for the states, 1 they came, -1 connection over
    std::atomic<std::uint32_t> bits_{0};
    // The thread's own: the server's names for its sender and type ids.
    std::map<std::int32_t, std::string> senders_;
    std::map<std::int32_t, std::string> types_;
    std::uint32_t working_ = 0;
    bool statesCame_ = false;
};
