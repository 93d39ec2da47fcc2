#include "PortCheck.h"

#include "HostLog.h"
#include "ProcessInfo.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace host {

namespace {

std::string linkTarget(const std::string& path) {
    char target[PATH_MAX];
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

bool isNumber(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text)
        if (*text < '0' || *text > '9') return false;
    return true;
}

// The files a process has open: as /proc names them, and what they are.
struct OpenFile {
    std::string name;
    struct stat info {};
    bool stated = false;
};

std::vector<OpenFile> openFiles(pid_t pid) {
    std::vector<OpenFile> files;
    std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return files;
    while (dirent* entry = readdir(dir)) {
        if (!isNumber(entry->d_name)) continue;
        OpenFile file;
        const std::string path = folder + "/" + entry->d_name;
        file.name = linkTarget(path);
        // Only devices are looked at: a stat of a file on a hung network
        // mount would hang too.
        file.stated = file.name.compare(0, 5, "/dev/") == 0 && stat(path.c_str(), &file.info) == 0;
        files.push_back(file);
    }
    closedir(dir);
    return files;
}

// The same terminal: a device's number, but for a pseudo-terminal also its
// instance of /dev/pts (a container's numbers its own from 0 again).
bool sameTerminal(const struct stat& a, const struct stat& b, bool pseudo) {
    return S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode) && a.st_rdev == b.st_rdev && (!pseudo || a.st_dev == b.st_dev);
}

}  // namespace

std::string portRefusal(const std::string& port) {
    struct stat info {};
    if (stat(port.c_str(), &info) != 0) return "";  // an adapter may be plugged in later
    if (S_ISDIR(info.st_mode)) return port + " is a directory, not a serial port";
    if (!S_ISCHR(info.st_mode)) return port + " is not a serial port (not a terminal device)";
    int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";  // the device says why, and portHints what to do
    bool terminal = isatty(fd) != 0;
    ::close(fd);
    return terminal ? "" : port + " is not a serial port (not a terminal device)";
}

bool portOpens(const std::string& port) {
    int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // As the device takes it: its lock, and a terminal's attributes.
    termios attributes {};
    const bool usable = flock(fd, LOCK_EX | LOCK_NB) == 0 && tcgetattr(fd, &attributes) == 0;
    ::close(fd);
    return usable;
}

std::vector<pid_t> portHolders(const std::string& port) {
    std::vector<pid_t> holders;
    char resolved[PATH_MAX];
    struct stat wanted {};
    if (realpath(port.c_str(), resolved) == nullptr || stat(resolved, &wanted) != 0) return holders;
    const bool pseudo = std::string(resolved).compare(0, 9, "/dev/pts/") == 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return holders;
    while (dirent* entry = readdir(proc)) {
        if (!isNumber(entry->d_name)) continue;
        pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (pid == getpid()) continue;
        bool holds = false, farEnd = false;
        for (const OpenFile& f : openFiles(pid)) {
            holds = holds || (f.stated && sameTerminal(f.info, wanted, pseudo));
            farEnd = farEnd || f.name == "/dev/ptmx" || f.name == "/dev/pts/ptmx";
        }
        if (holds && !(pseudo && farEnd)) holders.push_back(pid);
    }
    closedir(proc);
    return holders;
}

std::vector<std::string> portHints(const std::string& port) {
    std::vector<std::string> hints;
    struct stat info {};
    if (stat(port.c_str(), &info) != 0) return hints;
    if (access(port.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        // Each lookup may reuse the last one's storage: copied at once.
        const group* g = getgrgid(info.st_gid);
        const std::string groupName = g != nullptr ? g->gr_name : std::to_string(info.st_gid);
        const passwd* owner = getpwuid(info.st_uid);
        const std::string ownerName = owner != nullptr ? owner->pw_name : std::to_string(info.st_uid);
        const passwd* user = getpwuid(geteuid());
        const std::string userName = user != nullptr ? user->pw_name : "$USER";
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(info.st_mode & 0777));
        // Joining a group helps only where the group may read and write, and
        // joining root's group is never the answer.
        const bool groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
        if (groupMayUse && info.st_gid != 0)
            hints.push_back(port + " may only be opened by the members of group " + groupName + ": add " + userName +
                            " to it (sudo usermod -aG " + groupName + " " + userName + ") and log in again");
        else
            hints.push_back(port + " belongs to " + ownerName + ":" + groupName + " with mode " + mode + ", which " +
                            userName + " may not open: run the host as " + ownerName +
                            ", or give the line a group of its own with a udev rule (the example "
                            "99-quorlix-wand.rules is in share/doc/quorlix/examples/)");
    }
    const std::vector<pid_t> holders = portHolders(port);
    for (pid_t holder : holders) hints.push_back(port + " is held by " + describeProcess(holder));
    // A pseudo-terminal keeps its exclusive mark while its far end is open,
    // also after the program that set it was killed.
    int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const bool busy = fd < 0 && errno == EBUSY;
    if (fd >= 0) ::close(fd);
    // Where other users' processes are hidden (the service's ProtectProc=), a
    // holder cannot be told from a mark left behind.
    struct stat init {};
    const bool seesAll = stat("/proc/1", &init) == 0;
    if (busy && holders.empty())
        hints.push_back(port + (seesAll ? " is still marked for exclusive use by a program that ended without giving "
                                          "it back (a host killed with kill -9?)"
                                        : " is held by a program this host cannot see, or still marked for exclusive "
                                          "use by one that ended (a host killed with kill -9?)") +
                        "; as root, quorlix-host release CONFIG gives a mark left behind back (the service does so "
                        "before it starts)");
    return hints;
}

bool portsUsable(const HostConfig& config, bool fromPortFlag) {
    for (const DeviceConfig& d : config.devices) {
        const std::string port = portDevicePath(configuredPort(d));
        if (port.empty()) continue;
        std::string refusal = portRefusal(port);
        if (!refusal.empty()) {
            hostMessage((fromPortFlag ? std::string("--port")
                                      : config.fileName + ":" + std::to_string(configuredPortLine(d)) + ": " + d.name) +
                        ": " + refusal);
            return false;
        }
        for (pid_t holder : portHolders(port))
            hostMessage(d.name + ": warning: " + port + " is also open in " + describeProcess(holder) +
                        ", which may take the wand's bytes (ModemManager does so with new adapters)");
    }
    return true;
}

}  // namespace host
