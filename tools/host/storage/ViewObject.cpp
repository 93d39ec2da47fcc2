#include "ViewObject.h"

#include "ProcessInfo.h"
#include "ShmGroupCheck.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

std::string systemText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool sameObject(int fd, const std::string& name) {
    int again = shm_open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (again < 0) return false;
    struct stat held {}, now {};
    bool same = fstat(fd, &held) == 0 && fstat(again, &now) == 0 && held.st_ino == now.st_ino &&
                held.st_dev == now.st_dev;
    ::close(again);
    return same;
}

// The pid written into a name's lock by the host that holds it, or 0.
pid_t lockHolderPid(int fd) {
    char text[24] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? static_cast<pid_t>(std::strtol(text, nullptr, 10)) : 0;
}

// Readers only read: the group gets no write permission.
bool setAccess(int fd, const std::string& object, const std::string& group, std::string& error) {
    if (group.empty()) {
        if (fchmod(fd, 0600) == 0) return true;
        error = systemText("setting the mode of shared memory " + object);
        return false;
    }
    gid_t gid = 0;
    const std::string problem = shmGroupProblem(group, &gid);
    if (!problem.empty()) {
        error = "shm-group: " + problem;
        return false;
    }
    if (fchown(fd, static_cast<uid_t>(-1), gid) != 0 || fchmod(fd, 0640) != 0) {
        error = systemText("giving shared memory " + object + " to group " + group +
                           " (the host must be a member of it)");
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<ViewObject> ViewObject::open(const std::string& object, std::size_t size, std::uint32_t magic,
                                             std::uint32_t version, const std::string& group, std::string& error) {
    std::unique_ptr<ViewObject> view(new ViewObject());
    view->size_ = size;
    if (object.empty()) {
        void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            error = systemText("allocating the storages");
            return nullptr;
        }
        view->memory_ = mapped;
        return view;
    }
    if (!view->takeName(object, error) || !view->openObject(object, magic, version, group, error)) return nullptr;
    return view;
}

// The holder removes the lock object while holding it, so a lock taken on an
// object no longer under the name does not count.
bool ViewObject::takeName(const std::string& object, std::string& error) {
    std::string lockName = object + ".lock";
    for (int attempt = 0; attempt < 20; ++attempt) {
        int fd = shm_open(lockName.c_str(), O_CREAT | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = systemText("opening the lock of shared memory " + object);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            pid_t holder = lockHolderPid(fd);
            ::close(fd);
            error = "shared memory " + object + " is in use by another host" +
                    (holder > 0 ? " (" + describeProcess(holder) + ")" : "");
            return false;
        }
        if (!sameObject(fd, lockName)) {
            ::close(fd);
            continue;
        }
        std::string pid = std::to_string(getpid()) + "\n";
        bool noted = ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
        (void)noted;  // only the message of a host that loses the name needs it
        lockFd_ = fd;
        lockName_ = lockName;
        return true;
    }
    error = "shared memory " + object + " keeps changing hands; try again";
    return false;
}

bool ViewObject::openObject(const std::string& object, std::uint32_t magic, std::uint32_t version,
                            const std::string& group, std::string& error) {
    // The name is ours: an object still there was left by a host that ended,
    // or is something else, which is not ours to touch.
    int fd = shm_open(object.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0 && errno != ENOENT) {
        error = systemText("opening shared memory " + object);
        return false;
    }
    if (fd >= 0) {
        struct stat info {};
        std::uint32_t head[32] = {};
        const bool stated = fstat(fd, &info) == 0;
        const ssize_t got = stated && S_ISREG(info.st_mode) ? pread(fd, head, sizeof head, 0) : -1;
        const bool read = got >= static_cast<ssize_t>(3 * sizeof head[0]);
        // A host ended between making the object and writing its header
        // leaves it empty or all zero: that is ours too.
        const bool unfinished = stated && (info.st_size == 0 || (got == sizeof head && static_cast<std::size_t>(info.st_size) == size_ &&
                                                                 std::all_of(std::begin(head), std::end(head),
                                                                             [](std::uint32_t w) { return w == 0; })));
        std::string what;
        if (!stated || !S_ISREG(info.st_mode)) what = "is not a shared-memory object";
        else if (info.st_uid != geteuid()) what = "belongs to user " + std::to_string(info.st_uid) + ", not to this host's";
        else if (!unfinished && (!read || head[0] != magic))
            what = "is not quorlix-host storages (" + std::to_string(static_cast<long long>(info.st_size)) +
                   " bytes without their header)";
        if (!what.empty()) {
            ::close(fd);
            error = "shared memory " + object + " " + what + "; it is left alone: choose another --shm name";
            return false;
        }
        if (!unfinished && head[1] == version && head[2] == size_ && static_cast<std::size_t>(info.st_size) == size_) {
            if (!setAccess(fd, object, group, error)) {
                ::close(fd);
                return false;
            }
            void* mapped = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            ::close(fd);
            if (mapped == MAP_FAILED) {
                error = systemText("mapping shared memory " + object);
                return false;
            }
            name_ = object;
            memory_ = mapped;
            reused_ = true;
            return true;
        }
        // Storages of another layout, left by an earlier release of this
        // host, or never finished.
        ::close(fd);
        shm_unlink(object.c_str());
    }
    fd = shm_open(object.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = systemText("creating shared memory " + object);
        return false;
    }
    // Nothing is mapped yet on failure: the object goes here.
    auto fail = [&](const std::string& message) {
        if (!message.empty()) error = message;
        ::close(fd);
        shm_unlink(object.c_str());
        return false;
    };
    if (!setAccess(fd, object, group, error)) return fail("");
    if (ftruncate(fd, static_cast<off_t>(size_)) != 0) return fail(systemText("sizing shared memory " + object));
    void* mapped = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) return fail(systemText("mapping shared memory " + object));
    ::close(fd);
    name_ = object;
    memory_ = mapped;
    return true;
}

void ViewObject::release() {
    if (!name_.empty()) {
        shm_unlink(name_.c_str());
        name_.clear();
    }
    if (lockFd_ >= 0) {
        shm_unlink(lockName_.c_str());
        ::close(lockFd_);
        lockFd_ = -1;
    }
}

ViewObject::~ViewObject() {
    release();
    if (memory_ != nullptr) munmap(memory_, size_);
}

}  // namespace host
