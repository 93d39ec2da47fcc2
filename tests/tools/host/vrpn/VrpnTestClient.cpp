#include "VrpnTestClient.h"

#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::uint32_t be32(const char* at) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(at);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

std::string pad8(std::string s) {
    s.append((8 - s.size() % 8) % 8, '\0');
    return s;
}

}  // namespace

std::int32_t VrpnTestClient::Message::i32(std::size_t offset) const {
    return offset + 4 <= payload.size() ? static_cast<std::int32_t>(be32(payload.data() + offset)) : -999;
}

double VrpnTestClient::Message::f64(std::size_t offset) const {
    if (offset + 8 > payload.size()) return -999;
    const std::uint64_t bits = (std::uint64_t{be32(payload.data() + offset)} << 32) | be32(payload.data() + offset + 4);
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

VrpnTestClient::~VrpnTestClient() {
    if (fd_ >= 0) close(fd_);
}

std::string VrpnTestClient::u32(std::uint32_t value) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(value >> (24 - 8 * i));
    return s;
}

std::string VrpnTestClient::cookieText() {
    std::string c = "vrpn: ver. 07.35  0";
    c.resize(24, '\0');
    return c;
}

bool VrpnTestClient::connectTcp(int port, std::string& error) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(port);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        error = std::string("connect: ") + std::strerror(errno);
        return false;
    }
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

bool VrpnTestClient::connectBack(int port, std::string& error, std::chrono::milliseconds within) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener, 1);
    socklen_t size = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);
    const std::string request = "127.0.0.1 " + std::to_string(ntohs(a.sin_port));
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in server = loopback(port);
    const auto end = std::chrono::steady_clock::now() + within;
    // As stock clients do: the request again every 2 s until called.
    while (std::chrono::steady_clock::now() < end) {
        sendto(udp, request.c_str(), request.size() + 1, 0, reinterpret_cast<sockaddr*>(&server), sizeof server);
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 2000) == 1) {
            fd_ = accept(listener, nullptr, nullptr);
            break;
        }
    }
    close(udp);
    close(listener);
    if (fd_ < 0) error = "not called back";
    return fd_ >= 0;
}

void VrpnTestClient::sendRaw(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

void VrpnTestClient::sendMessage(std::int32_t sender, std::int32_t type, const std::string& payload) {
    std::string m = u32(static_cast<std::uint32_t>(24 + payload.size())) + u32(1) + u32(2) +
                    u32(static_cast<std::uint32_t>(sender)) + u32(static_cast<std::uint32_t>(type)) + u32(0);
    sendRaw(m + pad8(payload));
}

void VrpnTestClient::greet(const std::string& device) {
    sendRaw(cookieText());
    auto describe = [this](std::int32_t kind, std::int32_t id, const std::string& name) {
        sendMessage(id, kind, u32(static_cast<std::uint32_t>(name.size() + 1)) + name + std::string(1, '\0'));
    };
    describe(-1, 0, device);
    describe(-2, 0, "vrpn_Base ping_message");
    describe(-2, 1, "vrpn_Base pong_message");
}

bool VrpnTestClient::receive(std::chrono::milliseconds within) {
    if (closed_) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(within.count())) != 1) return true;
    char buffer[65536];
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) {
        closed_ = true;
        return false;
    }
    in_.append(buffer, static_cast<std::size_t>(n));
    parse();
    return true;
}

void VrpnTestClient::parse() {
    if (cookie_.empty()) {
        if (in_.size() < 24) return;
        cookie_ = in_.substr(0, 24);
        in_.erase(0, 24);
    }
    // Taken from the front as whole messages; the rest is kept for the next read.
    std::size_t at = 0;
    while (in_.size() - at >= 24) {
        const char* head = in_.data() + at;
        const std::uint32_t length = be32(head);
        if (length < 24) {
            closed_ = true;  // not VRPN: nothing after it can be read
            break;
        }
        const std::size_t payload = length - 24;
        const std::size_t whole = 24 + (payload + 7) / 8 * 8;
        if (in_.size() - at < whole) break;
        Message m;
        m.sec = static_cast<std::int32_t>(be32(head + 4));
        m.usec = static_cast<std::int32_t>(be32(head + 8));
        m.sender = static_cast<std::int32_t>(be32(head + 12));
        m.type = static_cast<std::int32_t>(be32(head + 16));
        m.payload.assign(head + 24, payload);
        at += whole;
        if (m.type == -1 || m.type == -2) {
            const std::uint32_t n = be32(m.payload.data());
            std::string name = m.payload.substr(4, n);
            name = name.c_str();
            (m.type == -1 ? senders_ : types_)[m.sender] = name;
        }
        m.senderName = senders_.count(m.sender) != 0 ? senders_[m.sender] : "";
        m.typeName = types_.count(m.type) != 0 ? types_[m.type] : "";
        messages_.push_back(std::move(m));
    }
    in_.erase(0, at);
}

bool VrpnTestClient::waitFor(const std::function<bool(const Message&)>& want, std::chrono::milliseconds within,
                             Message* found) {
    const auto end = std::chrono::steady_clock::now() + within;
    for (;;) {
        for (; seen_ < messages_.size(); ++seen_) {
            if (want(messages_[seen_])) {
                if (found != nullptr) *found = messages_[seen_];
                ++seen_;
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !receive(std::min(left, std::chrono::milliseconds(100)))) {
            if (closed_ && seen_ < messages_.size()) continue;
            return false;
        }
    }
}

bool VrpnTestClient::waitForClose(std::chrono::milliseconds within) {
    const auto end = std::chrono::steady_clock::now() + within;
    while (!closed_ && std::chrono::steady_clock::now() < end) receive(std::chrono::milliseconds(100));
    return closed_;
}

std::size_t VrpnTestClient::countFor(const std::function<bool(const Message&)>& want, std::chrono::milliseconds during) {
    const auto end = std::chrono::steady_clock::now() + during;
    std::size_t n = 0;
    do {
        for (; seen_ < messages_.size(); ++seen_) n += want(messages_[seen_]) ? 1 : 0;
        messages_.clear();
        seen_ = 0;
    } while (receive(std::chrono::milliseconds(10)) && std::chrono::steady_clock::now() < end);
    return n;
}
