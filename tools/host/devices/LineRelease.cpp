#include "LineRelease.h"

#include "PortCheck.h"
#include "ProcessInfo.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace host {

bool releaseLines(const HostConfig& config, std::vector<std::string>& said) {
    bool looked = true;
    for (const DeviceConfig& d : config.devices) {
        const std::string port = portDevicePath(configuredPort(d));
        struct stat info {};
        // Only a pseudo-terminal keeps the mark once nobody has it open; a
        // serial line drops it at its last close, and opening one would
        // toggle its modem lines for nothing.
        if (port.empty() || stat(port.c_str(), &info) != 0 || !S_ISCHR(info.st_mode) || major(info.st_rdev) < 136 ||
            major(info.st_rdev) > 143)
            continue;
        const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            said.push_back(d.name + ": " + port + ": " + std::strerror(errno) +
                           (errno == EBUSY ? " (only root can open a line marked for exclusive use)" : ""));
            looked = false;
            continue;
        }
        int exclusive = 0;
        if (!isatty(fd) || ::ioctl(fd, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) {
            ::close(fd);
            continue;
        }
        // A host that runs holds the line's lock; another program has it open.
        const std::vector<pid_t> holders = portHolders(port);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !holders.empty()) {
            said.push_back(d.name + ": " + port + " is in use" +
                           (holders.empty() ? std::string(" (its lock is held)") : " by " + describeProcess(holders.front())) +
                           "; left as it is");
        } else if (::ioctl(fd, TIOCNXCL) == 0) {
            said.push_back(d.name + ": " + port + ": gave back the exclusive use that a program which ended left on it");
        } else {
            said.push_back(d.name + ": " + port + ": " + std::strerror(errno));
            looked = false;
        }
        ::close(fd);
    }
    return looked;
}

}  // namespace host
