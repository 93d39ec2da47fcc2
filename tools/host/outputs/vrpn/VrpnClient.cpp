#include "VrpnClient.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace host {

VrpnClient::VrpnClient(int fd, std::string peer, State state, std::chrono::steady_clock::time_point greetBy)
    : fd_(fd), peer_(std::move(peer)), state_(state), greetBy_(greetBy) {}

VrpnClient::~VrpnClient() { ::close(fd_); }

bool VrpnClient::queue(const std::string& bytes, std::size_t limit) {
    if (waitingBytes() > 0 && waitingBytes() + bytes.size() > limit) return false;
    if (sent_ > 0 && sent_ == out_.size()) {
        out_.clear();
        sent_ = 0;
    }
    out_ += bytes;
    return true;
}

bool VrpnClient::flush(std::string& error) {
    while (sent_ < out_.size()) {
        const ssize_t n = ::send(fd_, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        error = n < 0 ? std::strerror(errno) : "connection closed";
        return false;
    }
    if (sent_ == out_.size()) {
        out_.clear();
        sent_ = 0;
    } else if (sent_ > 65536 && sent_ > out_.size() / 2) {
        out_.erase(0, sent_);
        sent_ = 0;
    }
    return true;
}

}  // namespace host
