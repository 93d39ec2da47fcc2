#include "OscMirror.h"

#include "OscAddressSpace.h"
#include "quorlix/shm.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace host {

namespace {

// liblo's error handler has no user data: the mirror that is receiving, or
// the text of a failure while a server is made, on this thread.
thread_local OscMirror* receiving = nullptr;
thread_local std::string* creationError = nullptr;

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

// liblo's arguments lie at 4-byte boundaries, less than its union promises:
// read them as bytes.
std::int32_t intArg(lo_arg* arg) {
    std::int32_t value;
    std::memcpy(&value, arg, sizeof value);
    return value;
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

OscMirror::OscMirror(MirrorStorages& storages, Note note) : storages_(storages), note_(std::move(note)) {}

std::unique_ptr<OscMirror> OscMirror::create(const std::string& listen, const std::string& from,
                                             MirrorStorages& storages, Note note, std::string& error) {
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
        return nullptr;
    }
    creationError = nullptr;
    if (mirror->server_ == nullptr) {
        const std::string system = whyNotBound(port);
        error = "--listen " + listen + ": " +
                (!system.empty() ? system : (why.empty() ? "cannot listen there" : why) + example);
        return nullptr;
    }
    // Bundles are written when they arrive, whatever their time tag says: the
    // sender's clock may run ahead of this one.
    lo_server_enable_queue(mirror->server_, 0, 1);
    // Only the exact type tags are accepted; no conversion.
    lo_server_enable_coercion(mirror->server_, 0);
    OscMirror* self = mirror.get();
    lo_server_add_method(mirror->server_, osc::kControllerRecord, osc::kRecordTypes, onRecord, self);
    lo_server_add_method(mirror->server_, osc::kTrackerRecord, osc::kRecordTypes, onRecord, self);
    lo_server_add_method(mirror->server_, osc::kKeyframe, osc::kKeyframeTypes, onKeyframe, self);
    for (const char* decoded : {osc::kButtons, osc::kValuators, osc::kPose})
        lo_server_add_method(mirror->server_, decoded, nullptr, onDecoded, self);
    lo_server_add_method(mirror->server_, nullptr, nullptr, onOther, self);
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
    receiving = this;
    const std::uint64_t lostBefore = counts_.lost.load();
    for (int wait = timeoutMs; lo_server_recv_noblock(server_, wait) > 0; wait = 0) {
    }
    receiving = nullptr;
    const std::uint64_t lost = counts_.lost.load();
    if (lost != lostBefore)
        note_(std::to_string(lost - lostBefore) + " datagrams from " + sender_ + " lost (" + std::to_string(lost) +
              " in all)");
    // Refused datagrams are said at most every 10 s: a flood must not flood the log.
    const std::uint64_t refused = counts_.bad.load() + counts_.foreign.load();
    const auto now = std::chrono::steady_clock::now();
    if (refused != refusedNoted_ && (refusedNoted_ == 0 || now - refusedNotedAt_ >= std::chrono::seconds(10))) {
        note_("datagrams dropped so far: " + std::to_string(counts_.bad.load()) + " bad" +
              (from_.empty() ? "" : ", " + std::to_string(counts_.foreign.load()) + " from hosts other than " + fromName_));
        refusedNoted_ = refused;
        refusedNotedAt_ = now;
    }
    if (everHeard_ && !storages_.stale() &&
        std::chrono::steady_clock::now() - lastHeard_ >= kSilenceBeforeStale) {
        storages_.setStale(true);
        note_("nothing from " + sender_ + " for " + std::to_string(kSilenceBeforeStale.count()) +
              " s: the storages are marked stale until its next keyframe");
    }
}

bool OscMirror::accept(lo_message msg) {
    if (from_.empty()) return true;
    lo_address source = lo_message_get_source(msg);
    if (source != nullptr && from_.count(plainAddress(lo_address_get_hostname(source))) > 0) return true;
    ++counts_.foreign;
    return false;
}

void OscMirror::heard(std::uint32_t sequence) {
    counts_.lost += gaps_.see(sequence);
    lastHeard_ = std::chrono::steady_clock::now();
    everHeard_ = true;
}

int OscMirror::onRecord(const char* path, const char*, lo_arg** argv, int, lo_message msg, void* data) {
    OscMirror& self = *static_cast<OscMirror*>(data);
    if (!self.accept(msg)) return 0;
    const bool controller = std::strcmp(path, osc::kControllerRecord) == 0;
    const std::string device = reinterpret_cast<const char*>(argv[0]);
    const std::int32_t entry = intArg(argv[1]);
    const std::uint32_t sequence = static_cast<std::uint32_t>(intArg(argv[2]));
    lo_blob blob = reinterpret_cast<lo_blob>(argv[3]);
    const std::uint32_t size = lo_blob_datasize(blob);
    const std::int32_t lost = intArg(argv[4]);
    const std::uint32_t expected = controller ? sizeof(quorlix_con_data) : sizeof(quorlix_tra_data);
    if (size != expected || entry < 1 || entry > QUORLIX_SHM_ENTRIES || device.empty() ||
        device.size() >= QUORLIX_SHM_OWNER_SIZE || (lost != 0 && lost != 1)) {
        ++self.counts_.bad;
        return 0;
    }
    self.sender_ = plainAddress(lo_address_get_hostname(lo_message_get_source(msg)));
    self.heard(sequence);
    ++self.counts_.records;
    const auto kind = controller ? ChangeEvent::Kind::controller : ChangeEvent::Kind::tracker;
    switch (self.storages_.write(kind, static_cast<std::uint32_t>(entry), device, lo_blob_dataptr(blob), lost != 0)) {
        case MirrorStorages::Result::written: ++self.counts_.written; break;
        case MirrorStorages::Result::unchanged: break;
    }
    return 0;
}

int OscMirror::onKeyframe(const char*, const char*, lo_arg** argv, int, lo_message msg, void* data) {
    OscMirror& self = *static_cast<OscMirror*>(data);
    if (!self.accept(msg)) return 0;
    const std::uint32_t controllers = static_cast<std::uint32_t>(intArg(argv[1]));
    const std::uint32_t trackers = static_cast<std::uint32_t>(intArg(argv[2]));
    if (controllers > QUORLIX_SHM_ENTRIES || trackers > QUORLIX_SHM_ENTRIES) {
        ++self.counts_.bad;
        return 0;
    }
    self.sender_ = plainAddress(lo_address_get_hostname(lo_message_get_source(msg)));
    self.heard(static_cast<std::uint32_t>(intArg(argv[0])));
    ++self.counts_.keyframes;
    self.storages_.raiseCounts(controllers, trackers);
    if (self.storages_.stale()) {
        self.storages_.setStale(false);
        self.note_("keyframe from " + self.sender_ + ": the storages are current");
    }
    return 0;
}

int OscMirror::onDecoded(const char*, const char*, lo_arg**, int, lo_message, void*) {
    return 0;  // the same values as the record, for other tools
}

int OscMirror::onOther(const char*, const char*, lo_arg**, int, lo_message msg, void* data) {
    OscMirror& self = *static_cast<OscMirror*>(data);
    if (self.accept(msg)) ++self.counts_.bad;
    return 0;
}

void OscMirror::onError(int, const char* message, const char* where) {
    if (creationError != nullptr) {
        *creationError = std::string(message != nullptr ? message : "error") +
                         (where != nullptr && *where != '\0' ? std::string(" (") + where + ")" : "");
        return;
    }
    if (receiving != nullptr) ++receiving->counts_.bad;
}

std::string OscMirror::status() const {
    std::string text = std::string(stale() ? "stale" : "current") + ", " + std::to_string(counts_.records.load()) +
                       " records (" + std::to_string(counts_.written.load()) + " written), " +
                       std::to_string(counts_.keyframes.load()) + " keyframes, " + std::to_string(counts_.lost.load()) +
                       " lost, " + std::to_string(counts_.bad.load()) + " bad";
    if (!from_.empty()) text += ", " + std::to_string(counts_.foreign.load()) + " from others";
    return text;
}

}  // namespace host
