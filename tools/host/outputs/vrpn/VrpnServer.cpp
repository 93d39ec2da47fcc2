#include "VrpnServer.h"

#include "PublishedSnapshot.h"
#include "RealtimeThread.h"
#include "VrpnWire.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace host {

namespace {

std::string peerOf(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

std::string addressOf(const std::string& peer) { return peer.substr(0, peer.rfind(':')); }

void tune(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const int buffer = VrpnServer::kClientSocketBuffer;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
}

// A request to be called back: "HOST PORT" and a zero. The port is the
// client's TCP port. The host is never called, only the request's own
// source, so that a forged name cannot send the server elsewhere.
bool callBackPort(const char* text, int& port) {
    const char* c = text;
    while (*c != '\0' && std::isspace(static_cast<unsigned char>(*c)) == 0) ++c;  // the host
    if (c == text || *c == '\0') return false;
    char* end = nullptr;
    const long number = std::strtol(c, &end, 10);
    if (end == c || (*end != '\0' && std::isspace(static_cast<unsigned char>(*end)) == 0)) return false;
    if (number < 1024 || number > 65535) return false;
    port = static_cast<int>(number);
    return true;
}

}  // namespace

constexpr std::chrono::seconds VrpnServer::kGreetWithin;
constexpr std::size_t VrpnServer::kClientBacklog;
constexpr std::size_t VrpnServer::kMaxClients;
constexpr std::size_t VrpnServer::kMaxStrangers;
constexpr std::size_t VrpnServer::kMaxStrangersPerAddress;
constexpr int VrpnServer::kClientSocketBuffer;

VrpnServer::VrpnServer(const std::vector<std::string>& devices, const PublishedView& view, Note note)
    : QueuedOutput(4096), view_(view), note_(std::move(note)), devices_(devices) {}

VrpnServer::~VrpnServer() {
    if (!stop(std::chrono::steady_clock::now())) return;  // its thread may still use all of it
    clients_.clear();
    for (int fd : {tcp_, udp_, wakeFd_, wakeWrite_})
        if (fd >= 0) ::close(fd);
}

std::unique_ptr<VrpnServer> VrpnServer::create(const VrpnAddress& address, const std::vector<std::string>& devices,
                                               const PublishedView& view, Note note, std::string& error) {
    std::unique_ptr<VrpnServer> server(new VrpnServer(devices, view, std::move(note)));
    server->address_ = address;
    // A pipe rather than an eventfd: its writer hands the reader its own
    // processor as it goes back to its line, which wakes the server soonest.
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        server->wakeFd_ = ends[0];
        server->wakeWrite_ = ends[1];
    }
    if (server->wakeFd_ < 0) {
        error = address.origin + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!server->listen(address, error)) {
        error = address.origin + ": " + error;
        return nullptr;
    }
    return server;
}

bool VrpnServer::listen(const VrpnAddress& address, std::string& error) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!address.address.empty()) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc = getaddrinfo(address.address.c_str(), nullptr, &hints, &found);
        if (rc != 0 || found == nullptr) {
            error = address.address + " is not an IPv4 address of this machine (" + gai_strerror(rc) + ")";
            return false;
        }
        at.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    // Port 0 asks for a free one: the TCP port found must be free for UDP too.
    for (int attempt = 0; attempt < 50; ++attempt) {
        tcp_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        udp_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (tcp_ < 0 || udp_ < 0) {
            error = std::strerror(errno);
            return false;
        }
        int on = 1;
        setsockopt(tcp_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // a restart need not wait out TIME_WAIT
        at.sin_port = htons(static_cast<std::uint16_t>(address.port));
        const std::string where = address.where();
        if (bind(tcp_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
            error = where + ": TCP: " + std::strerror(errno) +
                    (errno == EADDRINUSE ? " (another program, perhaps another VRPN server, has it)" : "");
            return false;
        }
        socklen_t size = sizeof at;
        getsockname(tcp_, reinterpret_cast<sockaddr*>(&at), &size);
        if (bind(udp_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
            const int e = errno;
            if (address.port == 0 && e == EADDRINUSE) {
                ::close(tcp_);
                ::close(udp_);
                tcp_ = udp_ = -1;
                at.sin_port = 0;
                continue;
            }
            error = where + ": UDP: " + std::strerror(e) +
                    (e == EADDRINUSE ? " (another program, perhaps another VRPN server, has it)" : "");
            return false;
        }
        if (::listen(tcp_, 64) != 0) {
            error = where + ": " + std::strerror(errno);
            return false;
        }
        port_ = ntohs(at.sin_port);
        return true;
    }
    error = "no port free for both TCP and UDP";
    return false;
}

std::string VrpnServer::where() const {
    VrpnAddress a = address_;
    a.port = port_;
    return a.where();
}

std::string VrpnServer::status() const {
    const std::uint64_t served = served_.load();
    const std::uint64_t strangers = strangersDropped_.load();
    return "VRPN: " + std::to_string(served) + (served == 1 ? " client served, " : " clients served, ") +
           std::to_string(dropped_.load()) + " dropped, " +
           (strangers > 0 ? std::to_string(strangers) + " connections that never greeted dropped, " : "") +
           std::to_string(QueuedOutput::dropped()) + " changes dropped (queue full)";
}

void VrpnServer::wake() {
    if (sleeping_.exchange(false)) {
        const char one = 1;
        (void)!::write(wakeWrite_, &one, sizeof one);
    }
}

void VrpnServer::refused(const std::string& why) {
    const auto now = std::chrono::steady_clock::now();
    if (now - refusalSaid_ < std::chrono::seconds(10)) {
        ++refusalsUnsaid_;
        return;
    }
    note_(why + (refusalsUnsaid_ > 0 ? " (and " + std::to_string(refusalsUnsaid_) + " more refused since the last such line)"
                                      : ""));
    refusalSaid_ = now;
    refusalsUnsaid_ = 0;
}

bool VrpnServer::room(const std::string& peer) {
    if (clients_.size() >= kMaxClients) {
        refused("VRPN: client " + peer + " refused: " + std::to_string(kMaxClients) + " clients already");
        return false;
    }
    std::size_t strangers = 0, fromThere = 0;
    const std::string address = addressOf(peer);
    for (const auto& c : clients_) {
        if (c->state() == VrpnClient::State::ready) continue;
        ++strangers;
        if (addressOf(c->peer()) == address) ++fromThere;
    }
    if (strangers < kMaxStrangers && fromThere < kMaxStrangersPerAddress) return true;
    refused("VRPN: client " + peer + " refused: " + std::to_string(strangers) +
            " connections have not greeted yet (" + std::to_string(fromThere) + " of them from " + address + ")");
    return false;
}

void VrpnServer::accept() {
    // A few at a time: a flood of connections must not keep the thread from the clients.
    for (int taken = 0; taken < 32; ++taken) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const int fd = accept4(tcp_, reinterpret_cast<sockaddr*>(&from), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
            refused(std::string("VRPN: new clients wait: ") + std::strerror(errno));
            acceptAgain_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            return;
        }
        if (fd < 0) return;  // none left, or one that went before it was taken
        const std::string peer = peerOf(from);
        if (!room(peer)) {
            ::close(fd);
            continue;
        }
        add(fd, peer, VrpnClient::State::waiting);
        read(*clients_.back());  // its cookie is often there already
    }
}

void VrpnServer::add(int fd, const std::string& peer, VrpnClient::State state) {
    tune(fd);
    clients_.emplace_back(new VrpnClient(fd, peer, state, std::chrono::steady_clock::now() + kGreetWithin));
    send(*clients_.back(), vrpn::cookie());
}

void VrpnServer::callBack() {
    for (int taken = 0; taken < 32; ++taken) {
        char text[201] = {};
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n = recvfrom(udp_, text, sizeof text - 1, 0, reinterpret_cast<sockaddr*>(&from), &size);
        if (n < 0) return;
        int port = 0;
        if (!callBackPort(text, port)) continue;  // not a request: the port is VRPN's, but the network is anyone's
        from.sin_port = htons(static_cast<std::uint16_t>(port));
        const std::string peer = peerOf(from);
        // A client asks again every 2 s until it is called: one call each.
        bool calling = false;
        for (const auto& c : clients_) calling = calling || c->peer() == peer;
        if (calling || !room(peer)) continue;
        const auto now = std::chrono::steady_clock::now();
        if (now - callSecond_ >= std::chrono::seconds(1)) {
            callSecond_ = now;
            callsThisSecond_ = 0;
        }
        if (++callsThisSecond_ > 10) {
            refused("VRPN: client " + peer + " not called back: more than 10 requests this second");
            continue;
        }
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        if (connect(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 && errno != EINPROGRESS) {
            refused("VRPN: client " + peer + " asked to be called back, which failed: " + std::strerror(errno));
            ::close(fd);
            continue;
        }
        add(fd, peer, VrpnClient::State::calling);
    }
}

void VrpnServer::send(VrpnClient& client, const std::string& bytes) {
    if (client.ended()) return;
    if (!client.queue(bytes, kClientBacklog)) {
        client.end("VRPN: client " + client.peer() + " dropped: it stopped reading (" +
                       std::to_string(client.waitingBytes()) + " bytes waiting for it)",
                   true);
        return;
    }
    std::string error;
    if (client.state() != VrpnClient::State::calling && !client.flush(error))
        client.end("VRPN: client " + client.peer() + " left (" + error + ")", false);
}

void VrpnServer::broadcast(const std::string& bytes) {
    if (bytes.empty()) return;
    for (const auto& c : clients_)
        if (c->state() == VrpnClient::State::ready) send(*c, bytes);
}

void VrpnServer::catchUp() {
    std::vector<PublishedRecord> records;
    std::uint32_t lost = 0;
    publishedSnapshot(view_, PublishedView::Kind::controller, records, lost);
    publishedSnapshot(view_, PublishedView::Kind::tracker, records, lost);
    std::string bytes;
    for (PublishedRecord& r : records) {
        // A controller entry whose device never set it up (its start failed)
        // has neither buttons nor valuators.
        const bool controller = r.kind == ChangeEvent::Kind::controller;
        if (r.device[0] == '\0' || devices_.known(r)) continue;
        if (controller && r.con.button_count == 0 && r.con.valuator_count == 0) continue;
        // A pose its device never stamped (a tracker that starts at 0 and
        // has not moved): the time the server first read it.
        std::int32_t& sec = controller ? r.con.time_sec : r.tra.time_sec;
        std::int32_t& usec = controller ? r.con.time_usec : r.tra.time_usec;
        if (sec == 0 && usec == 0) {
            const vrpn::Stamp now = vrpn::stampNow();
            sec = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(now.sec)));
            usec = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(now.usec)));
        }
        devices_.change(r, bytes);
    }
    broadcast(bytes);
}

void VrpnServer::read(VrpnClient& client) {
    unsigned char buffer[65536];
    const ssize_t n = ::recv(client.fd(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) {
        client.end("VRPN: client " + client.peer() + " left", false);
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            client.end("VRPN: client " + client.peer() + " left (" + std::strerror(errno) + ")", false);
        return;
    }
    VrpnReader& reader = client.reader();
    reader.add(buffer, static_cast<std::size_t>(n));
    for (;;) {
        switch (reader.next()) {
        case VrpnReader::Step::more:
            return;
        case VrpnReader::Step::greeted: {
            catchUp();
            client.setState(VrpnClient::State::ready);
            served_.fetch_add(1, std::memory_order_relaxed);
            std::string hello;
            devices_.greeting(hello);
            send(client, hello);
            note_("VRPN: client " + client.peer() + " connected");
            break;
        }
        case VrpnReader::Step::ping: {
            std::string answer;
            if (devices_.answerPing(reader.sender(), answer)) send(client, answer);
            else if (client.firstAskFor(reader.sender(), 4))
                note_("VRPN: client " + client.peer() + " asks for device \"" + reader.sender() +
                      "\", which this host does not have");
            break;
        }
        case VrpnReader::Step::disconnect:
            client.end("VRPN: client " + client.peer() + " left", false);
            return;
        case VrpnReader::Step::fault:
            client.end("VRPN: client " + client.peer() + " dropped: it " + reader.fault(), true);
            return;
        }
    }
}

void VrpnServer::serve(VrpnClient& client, short events) {
    std::string error;
    if (client.state() == VrpnClient::State::calling) {
        if ((events & (POLLOUT | POLLERR | POLLHUP)) == 0) return;
        int failure = 0;
        socklen_t size = sizeof failure;
        getsockopt(client.fd(), SOL_SOCKET, SO_ERROR, &failure, &size);
        if (failure != 0) {
            client.end("VRPN: client " + client.peer() + " asked to be called back, which failed: " +
                           std::strerror(failure),
                       false);
            return;
        }
        client.setState(VrpnClient::State::waiting);
    }
    if ((events & POLLOUT) != 0 && !client.flush(error)) {
        client.end("VRPN: client " + client.peer() + " left (" + error + ")", false);
        return;
    }
    if ((events & (POLLIN | POLLHUP | POLLERR)) != 0) read(client);
}

void VrpnServer::expire(std::chrono::steady_clock::time_point now) {
    for (const auto& c : clients_) {
        if (c->state() == VrpnClient::State::ready || now < c->greetBy()) continue;
        if (c->state() == VrpnClient::State::calling)
            c->end("VRPN: client " + c->peer() + " asked to be called back, which got no answer within " +
                       std::to_string(kGreetWithin.count()) + " s (a firewall on its machine?)",
                   true);
        else
            c->end("VRPN: client " + c->peer() + " dropped: no VRPN greeting within " +
                       std::to_string(kGreetWithin.count()) + " s",
                   true);
    }
}

void VrpnServer::removeEnded() {
    for (std::size_t i = 0; i < clients_.size();) {
        if (!clients_[i]->ended()) {
            ++i;
            continue;
        }
        if (clients_[i]->dropped())
            (clients_[i]->state() == VrpnClient::State::ready ? dropped_ : strangersDropped_).fetch_add(1, std::memory_order_relaxed);
        note_(clients_[i]->endLine());
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    std::size_t ready = 0;
    for (const auto& c : clients_) ready += c->state() == VrpnClient::State::ready ? 1 : 0;
    ready_.store(ready, std::memory_order_relaxed);
}

void VrpnServer::run() {
    if (realtime_ > 0) runThisThreadRealtime(std::max(1, realtime_ - 1));
    note_("VRPN: listening on " + where() + " (TCP and UDP)");
    std::vector<PublishedRecord> batch;
    std::vector<pollfd> fds;
    std::string bytes;
    for (;;) {
        sleeping_.store(true);
        queue().takeAll(batch, std::chrono::steady_clock::now());
        bytes.clear();
        const std::uint64_t unnamed = devices_.unnamed();
        for (const PublishedRecord& r : batch) devices_.change(r, bytes);
        broadcast(bytes);
        if (unnamed == 0 && devices_.unnamed() > 0)
            note_("VRPN: more devices than " + std::to_string(devices_.size()) + ": the others' records reach no client");
        removeEnded();
        if (queue().closed()) break;

        // The clients are served between changes too, however many come:
        // every turn polls.
        const auto now = std::chrono::steady_clock::now();
        fds.assign({{wakeFd_, POLLIN, 0}, {tcp_, static_cast<short>(now >= acceptAgain_ ? POLLIN : 0), 0}, {udp_, POLLIN, 0}});
        auto next = now + std::chrono::seconds(1);
        for (const auto& c : clients_) {
            short events = POLLIN;
            if (c->state() == VrpnClient::State::calling || c->waiting()) events |= POLLOUT;
            fds.push_back({c->fd(), events, 0});
            if (c->state() != VrpnClient::State::ready) next = std::min(next, c->greetBy());
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
        // Changes queued since the look above have written the pipe: poll returns at once.
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(wait.count() + 1, 0)));
        sleeping_.store(false);
        if (ready < 0) continue;
        if ((fds[0].revents & POLLIN) != 0) {
            char drained[64];
            while (::read(wakeFd_, drained, sizeof drained) > 0) {
            }
        }
        // The clients polled are the first ones of the list: accepting adds at its end.
        const std::size_t polled = fds.size() - 3;
        for (std::size_t i = 0; i < polled; ++i)
            if (fds[i + 3].revents != 0) serve(*clients_[i], fds[i + 3].revents);
        if ((fds[1].revents & POLLIN) != 0) accept();
        if ((fds[2].revents & POLLIN) != 0) callBack();
        expire(std::chrono::steady_clock::now());
        removeEnded();
    }
    // Stopping: what is queued goes out while the host gives it time.
    while (!givingUp().load()) {
        bool waiting = false;
        std::string error;
        for (const auto& c : clients_)
            if (c->state() == VrpnClient::State::ready && c->waiting() && c->flush(error) && c->waiting()) waiting = true;
        if (!waiting) break;
        ::poll(nullptr, 0, 10);
    }
    clients_.clear();
    ready_.store(0);
}

}  // namespace host
