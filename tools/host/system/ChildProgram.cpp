#include "ChildProgram.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace host {

ChildProgram::~ChildProgram() { terminate(); }

bool ChildProgram::start(const std::string& program, const std::vector<std::string>& args, std::string& error,
                         bool silent) {
    int fds[2];
    if (pipe(fds) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (silent) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The host blocks its stop signals for its own threads; the child must
    // get them back.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    // A group of its own: Ctrl-C at the terminal reaches the host alone, which
    // stops its devices before it ends the child, so no device sees its line
    // vanish on the way out.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        pid_ = -1;
        error = program + ": " + std::strerror(rc);
        return false;
    }
    output_ = fds[0];
    return true;
}

bool ChildProgram::readLine(std::string& line, int timeoutMs) {
    for (;;) {
        std::string::size_type end = buffer_.find('\n');
        if (end != std::string::npos) {
            line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return true;
        }
        if (output_ < 0) return false;
        pollfd p{output_, POLLIN, 0};
        int ready = poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char chunk[256];
        ssize_t n = ::read(output_, chunk, sizeof chunk);
        if (n <= 0) {
            ::close(output_);
            output_ = -1;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string ChildProgram::port(std::chrono::milliseconds limit) {
    std::string line;
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (!readLine(line, static_cast<int>(left.count()) + 1)) {
            if (output_ < 0) return "";
            continue;
        }
        if (!line.empty() && line[0] == '/') return line;
    }
    return "";
}

bool ChildProgram::finished() {
    if (pid_ < 0 || done_) return true;
    std::string line;
    while (readLine(line, 0))
        if (line == "done") done_ = true;
    if (output_ < 0) done_ = true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        done_ = true;
    }
    return done_;
}

void ChildProgram::terminate() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > until) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    if (output_ >= 0) ::close(output_);
    output_ = -1;
}

}  // namespace host
