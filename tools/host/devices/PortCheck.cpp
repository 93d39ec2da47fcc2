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
#include <sys/stat.h>
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

// The files a process has open (as /proc names them); empty where it may not be looked at.
std::vector<std::string> openFiles(pid_t pid) {
    std::vector<std::string> files;
    std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return files;
    while (dirent* entry = readdir(dir)) {
        if (isNumber(entry->d_name)) files.push_back(linkTarget(folder + "/" + entry->d_name));
    }
    closedir(dir);
    return files;
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

std::vector<pid_t> portHolders(const std::string& port) {
    std::vector<pid_t> holders;
    char resolved[PATH_MAX];
    if (realpath(port.c_str(), resolved) == nullptr) return holders;
    const std::string target = resolved;
    const bool pseudo = target.compare(0, 9, "/dev/pts/") == 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return holders;
    while (dirent* entry = readdir(proc)) {
        if (!isNumber(entry->d_name)) continue;
        pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        if (pid == getpid()) continue;
        std::vector<std::string> files = openFiles(pid);
        bool holds = false, farEnd = false;
        for (const std::string& f : files) {
            holds = holds || f == target;
            farEnd = farEnd || f == "/dev/ptmx" || f == "/dev/pts/ptmx";
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
    for (pid_t holder : portHolders(port))
        hints.push_back(port + " is held by " + describeProcess(holder));
    return hints;
}

bool portsUsable(const HostConfig& config, bool fromPortFlag) {
    for (const DeviceConfig& d : config.devices) {
        const std::string port = configuredPort(d);
        if (port.empty()) continue;
        std::string refusal = portRefusal(port);
        if (!refusal.empty()) {
            hostMessage((fromPortFlag ? std::string("--port") : config.fileName + ": " + d.name) + ": " + refusal);
            return false;
        }
        for (pid_t holder : portHolders(port))
            hostMessage(d.name + ": warning: " + port + " is also open in " + describeProcess(holder) +
                        ", which may take the wand's bytes (ModemManager does so with new adapters)");
    }
    return true;
}

}  // namespace host
