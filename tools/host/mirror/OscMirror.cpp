#include "OscMirror.h"

#include "OscAddressSpace.h"
#include "quorlix/shm.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <netdb.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace host {

namespace {

// liblo's error handler has no user data: the text of a failure while a
// server is made, on this thread.
thread_local std::string* creationError = nullptr;

// The largest datagram UDP carries.
constexpr std::size_t kLargestDatagram = 65536;
// Datagrams read before the silence and the notes are looked at again: a
// flood must not keep them waiting.
constexpr int kDatagramsPerTurn = 4096;

// "::ffff:10.0.0.1" (an IPv4 sender on an IPv6 socket) is "10.0.0.1".
std::string plainAddress(const char* text) {
    std::string address = text != nullptr ? text : "";
    if (address.compare(0, 7, "::ffff:") == 0 && address.find('.') != std::string::npos) address.erase(0, 7);
    return address;
}

bool resolve(const std::string& host, std::set<std::string>& addresses, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        error = "--from " + host + ": " + gai_strerror(rc);
        return false;
    }
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        char text[NI_MAXHOST];
        if (getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
            addresses.insert(plainAddress(text));
    }
    freeaddrinfo(found);
    if (addresses.empty()) error = "--from " + host + ": no address";
    return !addresses.empty();
}

// liblo says "cannot find free port" whatever kept it from a port; the
// system tells why.
std::string whyNotBound(const std::string& port) {
    const int number = std::atoi(port.c_str());
    if (number <= 0 || number > 65535) return "";
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(number));
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    close(fd);
    if (bound) return "";
    return error == EADDRINUSE ? "port " + port + " is in use (another mirror, or another program, listens there)"
                               : "port " + port + ": " + std::strerror(error);
}

// The unicast address a URL names, or "" for none (all interfaces) and for a
// multicast group, which liblo joins itself.
std::string unicastHost(const std::string& url) {
    char* host = lo_url_get_hostname(url.c_str());
    std::string text = host != nullptr ? host : "";
    std::free(host);
    if (text.empty()) return "";
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0) return text;  // binding it says why
    bool multicast = false;
    if (found->ai_family == AF_INET)
        multicast = IN_MULTICAST(ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr));
    else if (found->ai_family == AF_INET6)
        multicast = IN6_IS_ADDR_MULTICAST(&reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_addr);
    freeaddrinfo(found);
    return multicast ? "" : text;
}

// A socket bound to one of this machine's addresses only, for a node on two
// networks; -1 with `error` when it cannot be.
int bindToAddress(const std::string& host, const std::string& port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) {
        error = host + ": " + gai_strerror(rc);
        return -1;
    }
    // A name with both kinds of address is taken by its IPv4 one, where OSC
    // senders on a lab's network are.
    const addrinfo* chosen = found;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            chosen = a;
            break;
        }
    int fd = socket(chosen->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, chosen->ai_addr, chosen->ai_addrlen) != 0) {
        const int why = errno;
        if (fd >= 0) close(fd);
        fd = -1;
        error = why == EADDRNOTAVAIL ? host + " is not an address of this machine"
                : why == EADDRINUSE  ? "port " + port + " on " + host + " is in use (another mirror, or another "
                                                                        "program, listens there)"
                                     : host + " port " + port + ": " + std::strerror(why);
    }
    freeaddrinfo(found);
    return fd;
}

bool allDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

OscMirror::OscMirror(MirrorTarget& storages, Note note)
    : storages_(storages),
      note_(note ? std::move(note) : [](const std::string&) {}),
      state_(storages_, counts_, [this](const std::string& text) { note_(text); }),
      buffer_(kLargestDatagram) {}

std::unique_ptr<OscMirror> OscMirror::create(const std::string& listen, const std::string& from,
                                             MirrorTarget& storages, Note note, std::string& error,
                                             bool* wrong) {
    std::unique_ptr<OscMirror> mirror(new OscMirror(storages, std::move(note)));
    if (!from.empty()) {
        if (!resolve(from, mirror->from_, error)) return nullptr;
        mirror->fromName_ = from;
    }
    const std::string example = " (a port such as 7770, or osc.udp://:7770/, or one address of this node "
                                "osc.udp://192.168.1.20:7770/, or a multicast group osc.udp://239.255.42.1:7770/)";
    // liblo takes a port out of range for "any port"; a mirror must be where its host sends.
    char* urlPort = allDigits(listen) ? nullptr : lo_url_get_port(listen.c_str());
    const std::string port = urlPort != nullptr ? urlPort : listen;
    std::free(urlPort);
    if ((allDigits(listen) || listen.compare(0, 10, "osc.udp://") == 0) &&
        (!allDigits(port) || port.size() > 5 || std::atoi(port.c_str()) < 1 || std::atoi(port.c_str()) > 65535)) {
        error = "--listen " + listen + ": needs a port from 1 to 65535" + example;
        if (wrong != nullptr) *wrong = true;
        return nullptr;
    }
    std::string why;
    creationError = &why;
    const std::string unicast = allDigits(listen) ? "" : unicastHost(listen);
    if (allDigits(listen)) {
        mirror->server_ = lo_server_new_with_proto(listen.c_str(), LO_UDP, onError);
    } else if (listen.compare(0, 10, "osc.udp://") == 0 && !unicast.empty()) {
        // liblo binds to every interface or joins a group; for one address
        // its socket is swapped for one bound there.
        const int bound = bindToAddress(unicast, port, error);
        if (bound < 0) {
            creationError = nullptr;
            error = "--listen " + listen + ": " + error;
            return nullptr;
        }
        mirror->server_ = lo_server_new_with_proto(nullptr, LO_UDP, onError);
        const int fd = mirror->server_ != nullptr ? lo_server_get_socket_fd(mirror->server_) : -1;
        if (fd >= 0 && dup3(bound, fd, O_CLOEXEC) < 0) {
            creationError = nullptr;
            error = "--listen " + listen + ": " + std::strerror(errno);
            close(bound);
            return nullptr;
        }
        close(bound);
        mirror->boundUrl_ = "osc.udp://" + unicast + ":" + port + "/";
    } else if (listen.compare(0, 10, "osc.udp://") == 0) {
        mirror->server_ = lo_server_new_from_url(listen.c_str(), onError);
    } else {
        creationError = nullptr;
        error = "--listen " + listen + ": not a port or an OSC URL over UDP" + example;
        if (wrong != nullptr) *wrong = true;
        return nullptr;
    }
    creationError = nullptr;
    if (mirror->server_ == nullptr) {
        const std::string system = whyNotBound(port);
        error = "--listen " + listen + ": " +
                (!system.empty() ? system : (why.empty() ? "cannot listen there" : why) + example);
        return nullptr;
    }
    // liblo made the socket, bound it and joined the group; the datagrams
    // are read here, where each is used whole or refused whole.
    mirror->socket_ = lo_server_get_socket_fd(mirror->server_);
    char* group = allDigits(listen) || !unicast.empty() ? nullptr : lo_url_get_hostname(listen.c_str());
    const std::string groupName = group != nullptr ? group : "";
    std::free(group);
    mirror->where_ = !unicast.empty()       ? mirror->boundUrl_
                     : !groupName.empty() ? "the multicast group " + groupName + ", UDP port " + port
                                          : "UDP port " + port + " on every network of this node";
    storages.setStale(true);  // nothing heard yet
    return mirror;
}

OscMirror::~OscMirror() {
    if (server_ != nullptr) lo_server_free(server_);
}

std::string OscMirror::url() const {
    if (!boundUrl_.empty()) return boundUrl_;
    char* text = lo_server_get_url(server_);
    std::string url = text != nullptr ? text : "";
    std::free(text);
    return url;
}

void OscMirror::poll(int timeoutMs) {
    pollfd ready{socket_, POLLIN, 0};
    if (::poll(&ready, 1, timeoutMs) > 0) {
        for (int n = 0; n < kDatagramsPerTurn; ++n) {
            sockaddr_storage source{};
            socklen_t sourceSize = sizeof source;
            const ssize_t size = recvfrom(socket_, buffer_.data(), buffer_.size(), MSG_DONTWAIT | MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&source), &sourceSize);
            if (size < 0) break;
            char address[NI_MAXHOST] = "", port[NI_MAXSERV] = "";
            getnameinfo(reinterpret_cast<sockaddr*>(&source), sourceSize, address, sizeof address, port, sizeof port,
                        NI_NUMERICHOST | NI_NUMERICSERV);
            // Cut short (MSG_TRUNC gives its whole size): refused as it is.
            const std::size_t whole = static_cast<std::size_t>(size);
            received(buffer_.data(), whole <= buffer_.size() ? whole : 0, plainAddress(address), port,
                     std::chrono::steady_clock::now());
        }
    }
    const auto now = std::chrono::steady_clock::now();
    state_.tick(now);
    noteTrouble(now);
}

void OscMirror::received(const void* data, std::size_t size, const std::string& address, const std::string& port,
                         std::chrono::steady_clock::time_point now) {
    const std::string source = address + ":" + port;
    if (!from_.empty() && from_.count(address) == 0) {
        ++counts_.foreign;
        lastForeign_ = source;
        return;
    }
    const std::string wrong = state_.receive(source, data, size, now);
    if (!wrong.empty()) lastBad_ = source + ": " + wrong;
}

void OscMirror::noteTrouble(std::chrono::steady_clock::time_point now) {
    // Said at once the first time, then at most every ten seconds: a flood,
    // or a lossy network, must not flood the log.
    const std::uint64_t lost = counts_.lost.load(), bad = counts_.bad.load(), foreign = counts_.foreign.load();
    const bool first = lostNoted_ == 0 && badNoted_ == 0 && foreignNoted_ == 0;
    if ((lost == lostNoted_ && bad == badNoted_ && foreign == foreignNoted_) ||
        (!first && now - notedAt_ < kNotesEvery))
        return;
    if (lost != lostNoted_)
        note_(std::to_string(lost - lostNoted_) + " datagrams from " + state_.followed() + " lost" +
              (first ? "" : " in the last " + std::to_string(kNotesEvery.count()) + " s") + " (" +
              std::to_string(lost) + " in all)");
    if (bad != badNoted_ || foreign != foreignNoted_)
        note_("datagrams dropped so far: " +
              (bad == 0 ? "" : std::to_string(bad) + " bad (the last from " + lastBad_ + ")") +
              (bad == 0 || foreign == 0 ? "" : ", ") +
              (foreign == 0 ? ""
                            : std::to_string(foreign) + " from hosts other than " + fromName_ + " (the last from " +
                                  lastForeign_ + ")"));
    lostNoted_ = lost;
    badNoted_ = bad;
    foreignNoted_ = foreign;
    notedAt_ = now;
}

void OscMirror::onError(int, const char* message, const char* where) {
    if (creationError == nullptr) return;
    *creationError = std::string(message != nullptr ? message : "error") +
                     (where != nullptr && *where != '\0' ? std::string(" (") + where + ")" : "");
}

std::string OscMirror::status() const {
    std::string text = std::string(stale() ? "stale" : "current") + ", " + std::to_string(counts_.records.load()) +
                       " records (" + std::to_string(counts_.written.load()) + " written), " +
                       std::to_string(counts_.keyframes.load()) + " keyframes (" +
                       std::to_string(counts_.incomplete.load()) + " incomplete), " +
                       std::to_string(counts_.lost.load()) + " lost, " + std::to_string(counts_.bad.load()) + " bad, " +
                       std::to_string(counts_.others.load()) + " from senders not followed";
    if (!from_.empty()) text += ", " + std::to_string(counts_.foreign.load()) + " from hosts other than " + fromName_;
    return text;
}

}  // namespace host
