#include "platform/posix/LowLatency.h"

#include <cerrno>
#include <sys/ioctl.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace platform {

namespace {

#if defined(__linux__) && defined(TIOCGSERIAL) && defined(TIOCSSERIAL)
static_assert(kLowLatencyFlag == ASYNC_LOW_LATENCY, "the flag as the kernel numbers it");

bool getFlags(int fd, int& flags) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
    flags = info.flags;
    return true;
}

// Only the flags change: the rest is written back as the driver gave it.
bool setFlags(int fd, int flags) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
    info.flags = flags;
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
}
#else

bool getFlags(int, int&) {
    errno = ENOTTY;
    return false;
}

bool setFlags(int, int) {
    errno = ENOTTY;
    return false;
}
#endif

// errno as the caller left it: the mode is never the cause of a failure.
class KeepErrno {
public:
    KeepErrno() : saved_(errno) {}
    ~KeepErrno() { errno = saved_; }

private:
    int saved_;
};

}  // namespace

const SerialFlagsAccess& systemSerialFlags() {
    static const SerialFlagsAccess access{getFlags, setFlags};
    return access;
}

void LowLatencyMode::turnOn(int fd) {
    KeepErrno keep;
    changed_ = false;
    if (!access_->get(fd, found_) || (found_ & kLowLatencyFlag) != 0) return;
    changed_ = access_->set(fd, found_ | kLowLatencyFlag);
}

void LowLatencyMode::putBack(int fd) {
    KeepErrno keep;
    if (changed_) access_->set(fd, found_);
    changed_ = false;
}

}  // namespace platform
