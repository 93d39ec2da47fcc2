#pragma once

// A VRPN client for the tests, written from the protocol's description on
// its own, so that the server is checked against a second reading of it: the
// two ways in (TCP to the port, or a UDP request to be called back), the
// cookie, descriptions both ways, and messages taken apart by name.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class VrpnTestClient {
public:
    struct Message {
        std::int32_t sender = 0;
        std::int32_t type = 0;
        std::int32_t sec = 0;
        std::int32_t usec = 0;
        std::string senderName;  // as the server described its ids
        std::string typeName;
        std::string payload;     // without the padding

        std::int32_t i32(std::size_t offset) const;
        double f64(std::size_t offset) const;
    };

    VrpnTestClient() = default;
    ~VrpnTestClient();
    VrpnTestClient(const VrpnTestClient&) = delete;
    VrpnTestClient& operator=(const VrpnTestClient&) = delete;

    // TCP straight to the server's port (what "tcp://" names do).
    bool connectTcp(int port, std::string& error);
    // As stock clients do by default: listen on a TCP port of our own and
    // ask over UDP, on the server's port, to be called there.
    bool connectBack(int port, std::string& error, std::chrono::milliseconds within);

    // Sends our cookie, then describes `device` as sender 0 and the ping
    // and pong types, as a remote object does when it starts.
    void greet(const std::string& device = "wand");
    void sendRaw(const std::string& bytes);
    void sendMessage(std::int32_t sender, std::int32_t type, const std::string& payload);
    void ping() { sendMessage(0, 0, ""); }

    // Reads until a message satisfies `want` (true) or `within` passes.
    bool waitFor(const std::function<bool(const Message&)>& want, std::chrono::milliseconds within,
                 Message* found = nullptr);
    // Reads for `during`, forgetting what came: how many messages `want` took.
    std::size_t countFor(const std::function<bool(const Message&)>& want, std::chrono::milliseconds during);
    // True once the server closed the connection within `within`.
    bool waitForClose(std::chrono::milliseconds within);
    // The server's cookie as it came.
    const std::string& cookie() const { return cookie_; }
    const std::vector<Message>& messages() const { return messages_; }

    static std::string cookieText();
    static std::string u32(std::uint32_t value);

private:
    int fd_ = -1;
    bool closed_ = false;
    std::string in_;
    std::string cookie_;
    std::map<std::int32_t, std::string> senders_;
    std::map<std::int32_t, std::string> types_;
    std::vector<Message> messages_;
    std::size_t seen_ = 0;

    // Whatever arrived within `within`; false once closed.
    bool receive(std::chrono::milliseconds within);
    void parse();
};
