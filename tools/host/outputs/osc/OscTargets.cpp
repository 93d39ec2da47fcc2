#include "OscTargets.h"

#include "OscUrl.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

namespace host {

// What a target's lookup thread and the sender share; the thread may outlive
// the targets (a lookup cannot be cut short), so it holds its own share.
struct OscTargets::Lookup {
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    bool abandoned = false;
    int error = 0;  // the last failure's EAI_ code
    OscLookup address;
};

namespace {

int systemResolve(const std::string& host, const std::string& port, OscLookup& to) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) return rc;
    // A name with both kinds of address is sent to by its IPv4 one, where
    // OSC receivers on a lab's network are.
    const addrinfo* chosen = found;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            chosen = a;
            break;
        }
    std::memcpy(&to.address, chosen->ai_addr, chosen->ai_addrlen);
    to.size = chosen->ai_addrlen;
    freeaddrinfo(found);
    return 0;
}

bool isMulticast(const OscLookup& a) {
    if (a.address.ss_family == AF_INET)
        return IN_MULTICAST(ntohl(reinterpret_cast<const sockaddr_in&>(a.address).sin_addr.s_addr));
    return a.address.ss_family == AF_INET6 &&
           IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6&>(a.address).sin6_addr);
}

}  // namespace

OscTargets::OscTargets(OscResolve resolve) : resolve_(resolve ? std::move(resolve) : OscResolve(systemResolve)) {}

OscTargets::~OscTargets() {
    for (auto& t : targets_) {
        {
            std::lock_guard<std::mutex> lock(t->lookup->mutex);
            t->lookup->abandoned = true;
        }
        t->lookup->wake.notify_all();
        if (t->fd >= 0) ::close(t->fd);
    }
}

bool OscTargets::add(const std::string& url, int ttl, std::string& error) {
    lo_address parsed = openOscAddress(url, error);
    if (parsed == nullptr) return false;
    const std::string hostName = lo_address_get_hostname(parsed), port = lo_address_get_port(parsed);
    lo_address_free(parsed);
    auto target = std::make_unique<Target>();
    target->url = url;
    target->ttl = ttl;
    target->lookup = std::make_shared<Lookup>();
    // A numeric address is ready at once: its datagrams go from the first.
    addrinfo numeric{};
    numeric.ai_family = AF_UNSPEC;
    numeric.ai_socktype = SOCK_DGRAM;
    numeric.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostName.c_str(), port.c_str(), &numeric, &found) == 0) {
        std::memcpy(&target->lookup->address.address, found->ai_addr, found->ai_addrlen);
        target->lookup->address.size = found->ai_addrlen;
        target->lookup->done = true;
        freeaddrinfo(found);
        targets_.push_back(std::move(target));
        return true;
    }
    std::thread([lookup = target->lookup, resolve = resolve_, hostName, port] {
        for (int wait = kLookupRetrySeconds;; wait = std::min(wait * 2, 60)) {
            OscLookup found;
            const int rc = resolve(hostName, port, found);
            std::unique_lock<std::mutex> lock(lookup->mutex);
            lookup->error = rc;
            if (rc == 0) {
                lookup->address = found;
                lookup->done = true;
                return;
            }
            if (lookup->wake.wait_for(lock, std::chrono::seconds(wait), [&] { return lookup->abandoned; })) return;
        }
    }).detach();
    targets_.push_back(std::move(target));
    return true;
}

bool OscTargets::ready(Target& t) {
    if (t.fd >= 0) return true;
    // The lookup thread holds the lock only to store what it found, never
    // while it looks up.
    std::unique_lock<std::mutex> lock(t.lookup->mutex);
    if (!t.lookup->done) {
        if (t.lookup->error != 0) failed(t, std::string("no address: ") + gai_strerror(t.lookup->error));
        else failed(t, "its name is still being looked up");
        return false;
    }
    t.address = t.lookup->address;
    lock.unlock();
    const int family = t.address.address.ss_family;
    const int fd = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failed(t, std::strerror(errno));
        return false;
    }
    if (t.ttl > 0 && isMulticast(t.address)) {
        const int hops = t.ttl;
        if (family == AF_INET6)
            setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops);
        else
            setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &hops, sizeof hops);
    }
    t.fd = fd;
    return true;
}

void OscTargets::failed(Target& t, const std::string& why) {
    t.lost.fetch_add(1, std::memory_order_relaxed);
    failures_.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(failureMutex_);
    t.why = why;
}

std::size_t OscTargets::send(lo_bundle bundle) {
    std::size_t size = 0;
    void* bytes = lo_bundle_serialise(bundle, nullptr, &size);
    std::size_t notSent = 0;
    for (auto& target : targets_) {
        Target& t = *target;
        if (bytes == nullptr) {
            failed(t, "the bundle could not be put together");
        } else if (!ready(t)) {
        } else if (sendto(t.fd, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&t.address.address), t.address.size) >= 0) {
            t.sent.fetch_add(1, std::memory_order_relaxed);
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
            failed(t, "it takes datagrams slower than they come (a slow link?): dropped");
        } else {
            failed(t, std::strerror(errno));
        }
        ++notSent;
    }
    std::free(bytes);
    return notSent;
}

std::string OscTargets::describe(bool lossesOnly) const {
    std::string text;
    std::lock_guard<std::mutex> lock(failureMutex_);
    for (const auto& t : targets_) {
        const std::uint64_t lost = t->lost.load(std::memory_order_relaxed);
        if (lossesOnly && lost == 0) continue;
        text += (text.empty() ? "" : "; ") + t->url + ": " + std::to_string(t->sent.load(std::memory_order_relaxed)) +
                " sent";
        if (lost > 0) text += ", " + std::to_string(lost) + " lost (" + t->why + ")";
    }
    return text;
}

std::string OscTargets::perTarget() const { return describe(false); }

std::string OscTargets::losses() const { return describe(true); }

}  // namespace host
