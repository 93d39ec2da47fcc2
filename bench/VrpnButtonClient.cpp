#include "VrpnButtonClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Both ends send this, padded with zeros; the server checks the major version.
constexpr char kCookie[24] = "vrpn: ver. 07.35  0";
constexpr std::size_t kMajorVersion = 13;  // "vrpn: ver. 07"
constexpr std::uint32_t kHeaderSize = 24;
constexpr std::int32_t kSenderDescription = -1;
constexpr std::int32_t kTypeDescription = -2;

std::int32_t wordAt(const char* at) {
    std::uint32_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return static_cast<std::int32_t>(ntohl(word));
}

// Exactly `size` bytes by `until`: no more, the server's messages are the thread's.
bool receiveAll(int fd, char* to, std::size_t size, Clock::time_point until) {
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        const ssize_t n = ::recv(fd, to, size, 0);
        if (n <= 0) return false;
        to += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

VrpnButtonClient::~VrpnButtonClient() {
    stop_.store(true);
    // Wakes the thread's poll() at once; the time-out would do it within 100 ms.
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

std::string VrpnButtonClient::start(const std::string& address, int port, Waiting waiting,
                                    std::chrono::milliseconds timeout) {
    const std::string where = address + ":" + std::to_string(port);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd_ < 0) return std::string("socket: ") + std::strerror(errno);
    // A change is one small message: it must not wait for the one before to be acknowledged.
    const int on = 1;
    if (::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return std::string("TCP_NODELAY: ") + std::strerror(errno);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &at.sin_addr) != 1) return "not an IPv4 address: " + address;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        return "VRPN: connect to " + where + ": " + std::strerror(errno);
    }
    const auto until = Clock::now() + timeout;
    char theirs[sizeof kCookie];
    if (!receiveAll(fd_, theirs, sizeof theirs, until)) return "VRPN: no cookie from " + where;
    if (std::memcmp(theirs, kCookie, kMajorVersion) != 0) return "VRPN: " + where + " speaks another version";
    if (::send(fd_, kCookie, sizeof kCookie, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof kCookie)) {
        return "VRPN: cannot greet " + where;
    }
    waiting_ = waiting;
    thread_ = std::thread([this] { run(); });
    if (!waiting.looks && waiting.fifoPriority > 0) {
        sched_param p{};
        p.sched_priority = waiting.fifoPriority;
        const int result = pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &p);
        if (result != 0) return std::string("VRPN client thread: SCHED_FIFO: ") + std::strerror(result);
    }
    while (state_.load(std::memory_order_acquire) == 0) {
        if (Clock::now() > until) return "VRPN: no button states of " + device_ + " from " + where;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (state_.load() != 1) return "VRPN: " + where + " closed the connection";
    return "";
}

void VrpnButtonClient::run() {
    std::vector<char> pending;  // received, not yet a whole message
    pending.reserve(64 * 1024);
    char chunk[16 * 1024];
    while (!stop_.load(std::memory_order_relaxed)) {
        // Looking without a pause, the figure is the server's and the
        // socket's, not this thread's own wake-up.
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, waiting_.looks ? 0 : 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
        if (n < 0) continue;
        pending.insert(pending.end(), chunk, chunk + n);
        std::size_t used = 0;
        bool garbled = false;
        while (pending.size() - used >= kHeaderSize) {
            const auto length = static_cast<std::uint32_t>(wordAt(&pending[used]));
            const std::size_t padded = (static_cast<std::size_t>(length) + 7) & ~std::size_t{7};
            if (length < kHeaderSize) {
                garbled = true;
                break;
            }
            if (pending.size() - used < padded) break;
            take(&pending[used], length);
            used += padded;
        }
        // Once per batch: a record's release and press arrive together, and
        // the probe should see the record's state, not half of it.
        bits_.store(working_, std::memory_order_release);
        if (statesCame_) state_.store(1, std::memory_order_release);
        if (garbled) break;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
    }
    state_.store(-1, std::memory_order_release);
}

// Header: length, seconds, microseconds, sender, type, sequence; the payload after it.
void VrpnButtonClient::take(const char* message, std::uint32_t length) {
    const std::int32_t sender = wordAt(message + 12);
    const std::int32_t type = wordAt(message + 16);
    const char* payload = message + kHeaderSize;
    const std::uint32_t size = length - kHeaderSize;
    if (type == kSenderDescription || type == kTypeDescription) {
        // The id described is the header's sender; the name's length counts its zero.
        if (size < 4) return;
        const auto n = static_cast<std::uint32_t>(wordAt(payload));
        if (n == 0 || n > size - 4) return;
        (type == kSenderDescription ? senders_ : types_)[sender] = std::string(payload + 4, n - 1);
        return;
    }
    const auto from = senders_.find(sender);
    const auto name = types_.find(type);
    if (from == senders_.end() || from->second != device_ || name == types_.end()) return;
    if (name->second == "vrpn_Button Change" && size >= 8) {
        const std::int32_t index = wordAt(payload);
        if (index < 0 || index >= 32) return;
        const std::uint32_t bit = 1u << index;
        working_ = wordAt(payload + 4) != 0 ? working_ | bit : working_ & ~bit;
    } else if (name->second == "vrpn_Button States" && size >= 4) {
        const std::int32_t count = wordAt(payload);
        working_ = 0;
        for (std::int32_t b = 0; b < count && b < 32 && 8 + 4 * static_cast<std::uint32_t>(b) <= size; ++b) {
            if (wordAt(payload + 4 + 4 * b) != 0) working_ |= 1u << b;
        }
        statesCame_ = true;
    }
}
