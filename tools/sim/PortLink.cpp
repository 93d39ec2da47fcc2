#include "PortLink.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

std::string systemText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool linkTarget(const std::string& path, std::string& target) {
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0) return false;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// By its text alone: the terminal of an earlier run may be gone.
bool isTerminalPath(const std::string& target) {
    const std::string prefix = "/dev/pts/";
    if (target.size() <= prefix.size() || target.compare(0, prefix.size(), prefix) != 0) return false;
    return target.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}

std::string kindOf(mode_t mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "something";
}

}  // namespace

bool mayReplaceLink(const std::string& path, const std::string& ours, std::string& error) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return true;
        error = systemText("--link " + path);
        return false;
    }
    std::string what = kindOf(info.st_mode);
    if (S_ISLNK(info.st_mode)) {
        std::string target;
        if (!linkTarget(path, target)) {
            error = systemText("--link " + path);
            return false;
        }
        if (isTerminalPath(target) || (!ours.empty() && target == ours)) return true;
        what = "a symbolic link to " + target;
    }
    error = "--link " + path + ": " + what + " is there, not a link to a pseudo-terminal; refusing to replace it";
    return false;
}

bool placeLink(const std::string& path, const std::string& target, const std::string& ours, std::string& error) {
    // A name of our own for the new link: symlink() never replaces, so
    // whatever is there already stays.
    std::string temporary;
    for (int n = 0;; ++n) {
        temporary = path + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(n);
        if (::symlink(target.c_str(), temporary.c_str()) == 0) break;
        if (errno != EEXIST || n == 99) {
            error = systemText("linking " + path + " to " + target);
            return false;
        }
    }
    // Looked at just before the rename, so that little can change between.
    if (!mayReplaceLink(path, ours, error)) {
        removeOwnLink(temporary, target);
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = systemText("linking " + path + " to " + target);
        removeOwnLink(temporary, target);
        return false;
    }
    return true;
}

bool removeOwnLink(const std::string& path, const std::string& target) {
    std::string now;
    if (target.empty() || !linkTarget(path, now) || now != target) return false;
    return ::unlink(path.c_str()) == 0;
}

}  // namespace sim
