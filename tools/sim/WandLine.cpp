#include "WandLine.h"

#include "PortLink.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

std::string systemText(const std::string& what) { return what + ": " + std::strerror(errno); }

speed_t speedOf(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

}  // namespace

// Raw 8N1 without echo, so the terminal passes every byte through untouched.
bool configureRaw(int fd, int baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    speed_t speed = speedOf(baud);
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

namespace {

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::chrono::nanoseconds byteTime(int baud) {
    if (baud <= 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(10LL * 1000000000LL / baud);
}

WandLine::~WandLine() {
    unplug();
}

std::unique_ptr<WandLine> WandLine::openPty(const std::string& link, std::string& error) {
    std::unique_ptr<WandLine> line(new WandLine());
    line->pty_ = true;
    line->link_ = link;
    if (!line->openPtyPair(error) || !line->updateLink(error)) return nullptr;
    return line;
}

std::unique_ptr<WandLine> WandLine::openDevice(const std::string& path, int baud, std::string& error) {
    if (speedOf(baud) == B0) {
        error = "unsupported baud rate " + std::to_string(baud);
        return nullptr;
    }
    std::unique_ptr<WandLine> line(new WandLine());
    line->path_ = path;
    line->baud_ = baud;
    if (!line->openDeviceFd(error)) return nullptr;
    return line;
}

bool WandLine::openPtyPair(std::string& error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = systemText("opening a pseudo-terminal");
        return false;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        error = systemText("setting up the pseudo-terminal");
        ::close(master);
        return false;
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0 || !configureRaw(slave, baud_)) {
        error = systemText(std::string("opening ") + name);
        if (slave >= 0) ::close(slave);
        ::close(master);
        return false;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fd_ = master;
    slaveFd_ = slave;
    path_ = name;
    return true;
}

bool WandLine::openDeviceFd(std::string& error) {
    int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = systemText("opening " + path_);
        return false;
    }
    if (!configureRaw(fd, baud_)) {
        error = systemText("setting up " + path_);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool WandLine::updateLink(std::string& error) {
    if (link_.empty()) return true;
    if (!placeLink(link_, path_, linked_, error)) return false;
    linked_ = path_;
    return true;
}

bool WandLine::write(const std::uint8_t* data, std::size_t size, const std::atomic<bool>& stop, std::string& error) {
    while (size > 0) {
        if (stop.load()) return false;
        if (fd_ < 0) {
            error = "the line is unplugged";
            return false;
        }
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = systemText("writing to " + path_);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void WandLine::unplug() {
    // Only the link as we left it: a file someone put there since stays.
    if (pty_ && !linked_.empty()) removeOwnLink(link_, linked_);
    linked_.clear();
    closeFd(slaveFd_);
    closeFd(fd_);
}

bool WandLine::plug(std::string& error) {
    if (fd_ >= 0) return true;
    if (!pty_) return openDeviceFd(error);
    return openPtyPair(error) && updateLink(error);
}

bool WandLine::waitForReader(const std::atomic<bool>& stop, std::chrono::milliseconds fallback) {
#if defined(TIOCGEXCL)
    if (pty_ && slaveFd_ >= 0) {
        int exclusive = 0;
        if (::ioctl(slaveFd_, TIOCGEXCL, &exclusive) == 0) {
            while (!stop.load()) {
                if (::ioctl(slaveFd_, TIOCGEXCL, &exclusive) != 0) break;
                if (exclusive) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return !stop.load();
        }
    }
#endif
    auto until = std::chrono::steady_clock::now() + fallback;
    while (!stop.load() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return !stop.load();
}

void WandLine::drain(std::chrono::milliseconds limit, const std::atomic<bool>& stop) {
    auto until = std::chrono::steady_clock::now() + limit;
    if (!pty_) {
        if (fd_ >= 0) tcdrain(fd_);
        return;
    }
    // Written bytes reach the terminal's read queue a moment later, so the
    // queue must stay empty for a while before everything counts as read.
    int emptyReadings = 0;
    while (slaveFd_ >= 0 && !stop.load() && std::chrono::steady_clock::now() < until) {
        int queued = 0;
        if (::ioctl(slaveFd_, FIONREAD, &queued) != 0) return;
        emptyReadings = queued == 0 ? emptyReadings + 1 : 0;
        if (emptyReadings >= 5) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace sim
