// Every function of platform/SerialLine.h for POSIX systems, and nothing else:
// a program that links its own line leaves this file out entirely.
#include "platform/SerialLine.h"

#include "platform/posix/LowLatency.h"
#include "platform/posix/SerialPath.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

struct OpenLine {
    int fd = -1;
    bool restore = false;  // `original` holds the settings found at open
    termios original{};
    LowLatencyMode lowLatency;
    PortTimeouts timeouts{};
};

OpenLine* lineOf(SerialHandle handle) {
    if (handle == kNoSerialLine || handle == kInvalidSerialLine) {
        errno = EBADF;
        return nullptr;
    }
    return reinterpret_cast<OpenLine*>(handle);
}

struct Rate {
    std::uint32_t baud;
    speed_t speed;
};

const Rate kRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool speedOf(std::uint32_t baud, speed_t& speed) {
    for (const Rate& r : kRates) {
        if (r.baud == baud) {
            speed = r.speed;
            return true;
        }
    }
    return false;
}

// 0 for a speed the DCB cannot name; applying 0 keeps the line's speed.
std::uint32_t baudOf(speed_t speed) {
    for (const Rate& r : kRates) {
        if (r.speed == speed) return r.baud;
    }
    return 0;
}

bool toTermios(const PortDcb& dcb, termios& t) {
    // Raw binary line: no echo, no line editing, no signals, no translation.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tcflag_t cleared = CSIZE | PARENB | PARODD | CSTOPB;
#ifdef CRTSCTS
    cleared |= CRTSCTS;
#endif
#ifdef CMSPAR
    cleared |= CMSPAR;
#endif
    t.c_cflag &= ~cleared;
    // Modem lines ignored, receiver on.
    t.c_cflag |= CLOCAL | CREAD;

    switch (dcb.ByteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return false;
    }

    switch (dcb.Parity) {
    case portvalue::kNoParity: break;
    case portvalue::kOddParity: t.c_cflag |= PARENB | PARODD; break;
    case portvalue::kEvenParity: t.c_cflag |= PARENB; break;
#ifdef CMSPAR
    case portvalue::kMarkParity: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case portvalue::kSpaceParity: t.c_cflag |= PARENB | CMSPAR; break;
#endif
    default: return false;
    }
    if (dcb.fParity && dcb.Parity != portvalue::kNoParity) t.c_iflag |= INPCK;

    switch (dcb.StopBits) {
    case portvalue::kOneStopBit: break;
    case portvalue::kOne5StopBits:
    case portvalue::kTwoStopBits: t.c_cflag |= CSTOPB; break;
    default: return false;
    }

    if (dcb.fOutxCtsFlow || dcb.fRtsControl == portvalue::kRtsHandshake) {
#ifdef CRTSCTS
        t.c_cflag |= CRTSCTS;
#else
        return false;
#endif
    }
    if (dcb.fOutX) t.c_iflag |= IXON;
    if (dcb.fInX) t.c_iflag |= IXOFF;
    if (dcb.fOutX || dcb.fInX) {
        t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    }

    // A read with nothing waiting says "try again" (the line is non-blocking),
    // so a read of no bytes only ever means the other side is gone.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    if (dcb.BaudRate != 0) {
        speed_t speed;
        if (!speedOf(dcb.BaudRate, speed)) return false;
        if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
    }
    return true;
}

void fromTermios(const termios& t, PortDcb& dcb) {
    dcb = PortDcb{};
    dcb.DCBlength = sizeof(PortDcb);
    dcb.BaudRate = baudOf(cfgetospeed(&t));
    dcb.fBinary = 1;
    switch (t.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    dcb.Parity = portvalue::kNoParity;
    if (t.c_cflag & PARENB) {
        const bool odd = (t.c_cflag & PARODD) != 0;
#ifdef CMSPAR
        if (t.c_cflag & CMSPAR) {
            dcb.Parity = odd ? portvalue::kMarkParity : portvalue::kSpaceParity;
        } else
#endif
        {
            dcb.Parity = odd ? portvalue::kOddParity : portvalue::kEvenParity;
        }
    }
    dcb.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    dcb.StopBits = (t.c_cflag & CSTOPB) ? portvalue::kTwoStopBits : portvalue::kOneStopBit;
#ifdef CRTSCTS
    if (t.c_cflag & CRTSCTS) {
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = portvalue::kRtsHandshake;
    }
#endif
    dcb.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, rounded up so a read never ends early.
int millisecondsUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

SerialHandle openSerialLine(const char* name) {
    const std::string path = serialDevicePath(name);
    if (path.empty()) {
        errno = ENOENT;
        return kInvalidSerialLine;
    }
    // Non-blocking: the open must not wait for carrier, and reads wait in poll().
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kInvalidSerialLine;

    // The lock refuses every other opener, privileged or not; TIOCEXCL below
    // also turns away programs that do not take the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int cause = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        errno = cause;
        return kInvalidSerialLine;
    }
    auto* line = new (std::nothrow) OpenLine;
    if (line == nullptr) {
        ::close(fd);
        errno = ENOMEM;
        return kInvalidSerialLine;
    }
    line->fd = fd;
    if (::tcgetattr(fd, &line->original) == 0) {
        line->restore = true;
        ::ioctl(fd, TIOCEXCL, nullptr);  // no argument, but a defined one for the variadic slot
        line->lowLatency.turnOn(fd);
    }
    return reinterpret_cast<SerialHandle>(line);
}

bool getSerialState(SerialHandle handle, PortDcb& dcb) {
    OpenLine* line = lineOf(handle);
    if (line == nullptr) return false;
    termios t{};
    if (::tcgetattr(line->fd, &t) != 0) return false;
    fromTermios(t, dcb);
    return true;
}

bool getSerialTimeouts(SerialHandle handle, PortTimeouts& timeouts) {
    OpenLine* line = lineOf(handle);
    if (line == nullptr) return false;
    timeouts = line->timeouts;
    return true;
}

bool setSerialState(SerialHandle handle, const PortDcb& dcb) {
    OpenLine* line = lineOf(handle);
    if (line == nullptr) return false;
    termios t{};
    if (::tcgetattr(line->fd, &t) != 0) return false;
    if (!toTermios(dcb, t)) {
        errno = EINVAL;
        return false;
    }
    return ::tcsetattr(line->fd, TCSANOW, &t) == 0;
}

bool setSerialTimeouts(SerialHandle handle, const PortTimeouts& timeouts) {
    OpenLine* line = lineOf(handle);
    if (line == nullptr) return false;
    line->timeouts = timeouts;
    return true;
}

bool readSerialLine(SerialHandle handle, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    bytesRead = 0;
    OpenLine* line = lineOf(handle);
    if (line == nullptr) return false;
    if (count == 0) return true;
    if (buffer == nullptr) {
        errno = EFAULT;
        return false;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    const PortTimeouts t = line->timeouts;
    const bool hasTotal = t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0;
    const bool noWait = !hasTotal && t.ReadIntervalTimeout == portvalue::kNoWait;
    const bool hasInterval = t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != portvalue::kNoWait;
    const std::uint64_t totalMs =
        std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + std::uint64_t{t.ReadTotalTimeoutConstant};
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);

    // A byte already waiting is taken without asking poll() first: within a
    // record the next byte is usually there, and each call saved counts.
    short events = 0;  // what the last poll() saw
    for (;;) {
        const ssize_t n = ::read(line->fd, out + bytesRead, count - bytesRead);
        if (n > 0) {
            bytesRead += static_cast<std::uint32_t>(n);
            if (bytesRead == count) return true;
            events = 0;
            continue;
        }
        if (n == 0) {
            // The other side hung up (adapter unplugged, terminal closed). Calling
            // that a time-out would have every read loop spin on a dead line.
            errno = ENXIO;
            return false;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (events & (POLLHUP | POLLERR)) {
            errno = ENXIO;
            return false;
        }

        int waitMs = -1;  // no time-out: wait for the bytes
        if (noWait) return true;
        if (hasTotal) waitMs = millisecondsUntil(deadline);
        if (hasInterval && bytesRead > 0) {
            const int interval = t.ReadIntervalTimeout > INT_MAX ? INT_MAX : static_cast<int>(t.ReadIntervalTimeout);
            waitMs = (waitMs < 0 || interval < waitMs) ? interval : waitMs;
        }
        if (waitMs == 0) return true;  // time is up and nothing is waiting
        pollfd p{line->fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (ready == 0) return true;  // timed out: whatever arrived so far
        if (p.revents & POLLNVAL) {
            errno = EBADF;
            return false;
        }
        events = p.revents;
    }
}

bool closeSerialLine(SerialHandle handle) {
    OpenLine* line = lineOf(handle);
    if (line == nullptr) return false;
    // A line that hung up cannot take its settings back; closing matters more.
    if (line->restore) {
        line->lowLatency.putBack(line->fd);
        ::tcsetattr(line->fd, TCSANOW, &line->original);
        ::ioctl(line->fd, TIOCNXCL, nullptr);
    }
    const int result = ::close(line->fd);
    const int cause = errno;
    delete line;
    errno = cause;
    return result == 0;
}

}  // namespace platform
