// outputs/vrpn/: the wand for VRPN clients: buttons, analogs and trackers over VRPN's own protocol.
#pragma once

#include "PublishedView.h"
#include "QueuedOutput.h"
#include "VrpnAddress.h"
#include "VrpnClient.h"
#include "VrpnDevices.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace host {

// A VRPN server on the change bus: every device is a VRPN device of its
// name. Clients come by TCP to the port, or ask over UDP on the same port
// to be called back (what stock clients do); either way they get the
// cookie, the descriptions and each device's state, then every change. All
// of it happens on the server's own thread: a device only queues its change.
// A client that stops reading, talks garbage or does not greet in time is
// dropped with one line, and no other client or device notices.
class VrpnServer : public QueuedOutput {
public:
    using Note = std::function<void(const std::string&)>;

    // Bound before anything starts, so that a taken port is a fault of the
    // command line or configuration; null with `error` set then.
    // `view`: the storages whose entries a new client learns even before
    // they change (a tracker's first pose).
    static std::unique_ptr<VrpnServer> create(const VrpnAddress& address, const std::vector<std::string>& devices,
                                              const PublishedView& view, Note note, std::string& error);
    // A server whose thread would not stop is left as it is (see QueuedOutput).
    ~VrpnServer() override;

    // Real-time scheduling for the server's thread: one step below the
    // devices' `priority`, so that a device always goes first; 0: none.
    void runRealtime(int priority) { realtime_ = priority; }

    // The port it listens on (the free one it found, for port 0).
    int port() const { return port_; }
    std::string where() const;
    std::size_t clients() const { return ready_.load(std::memory_order_relaxed); }
    std::string status() const;

    // How long a client has to send its cookie.
    static constexpr std::chrono::seconds kGreetWithin{10};
    // Bytes that may wait for one client before it counts as gone.
    static constexpr std::size_t kClientBacklog = 64 * 1024;
    static constexpr std::size_t kMaxClients = 100;
    // Clients not greeted yet, in all and from one address: what strangers
    // on the network can hold without a cookie, so that they cannot keep
    // the lab's clients out.
    static constexpr std::size_t kMaxStrangers = 64;
    static constexpr std::size_t kMaxStrangersPerAddress = 32;
    // The kernel's buffer for each client: with the backlog, what a client
    // that stopped reading costs before it is dropped.
    static constexpr int kClientSocketBuffer = 64 * 1024;

protected:
    void run() override;
    void wake() override;

private:
    VrpnServer(const std::vector<std::string>& devices, const PublishedView& view, Note note);

    const PublishedView& view_;
    Note note_;
    VrpnAddress address_;
    int port_ = 0;
    int realtime_ = 0;
    int tcp_ = -1;
    int udp_ = -1;
    int wakeFd_ = -1;     // the wake-up pipe's end the server polls
    int wakeWrite_ = -1;  // and the one wake() writes
    std::atomic<bool> sleeping_{false};
    VrpnDevices devices_;
    std::vector<std::unique_ptr<VrpnClient>> clients_;
    std::atomic<std::size_t> ready_{0};
    std::atomic<std::uint64_t> served_{0};
    std::atomic<std::uint64_t> dropped_{0};           // clients that had greeted
    std::atomic<std::uint64_t> strangersDropped_{0};  // connections that never did

    bool listen(const VrpnAddress& address, std::string& error);
    void accept();
    // A new client, with our cookie queued for it.
    void add(int fd, const std::string& peer, VrpnClient::State state);
    void callBack();
    void serve(VrpnClient& client, short events);
    void read(VrpnClient& client);
    void send(VrpnClient& client, const std::string& bytes);
    void broadcast(const std::string& bytes);
    // Entries of the storages no change brought yet, told to every client.
    void catchUp();
    void expire(std::chrono::steady_clock::time_point now);
    void removeEnded();
    // Whether a client from `peer` may come now; a refusal is said at most
    // once per 10 s, with the count.
    bool room(const std::string& peer);
    void refused(const std::string& why);
    std::chrono::steady_clock::time_point refusalSaid_{};
    std::uint64_t refusalsUnsaid_ = 0;
    // Out of descriptors: the listening socket rests a moment.
    std::chrono::steady_clock::time_point acceptAgain_{};
    // Call-backs in the current second, so that forged requests cannot make
    // the server a port scanner.
    std::chrono::steady_clock::time_point callSecond_{};
    int callsThisSecond_ = 0;
};

}  // namespace host
