#include "ChildProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

extern char** environ;

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& outputFile) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::reap(bool wait) {
    if (pid_ <= 0 || ended_) return ended_;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, wait ? 0 : WNOHANG);
    if (done == pid_) {
        ended_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return ended_;
}

bool ChildProcess::running() { return pid_ > 0 && !reap(false); }

int ChildProcess::waitFor(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ended_ ? status_ : -1;
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (!running()) return ended_ ? status_ : -1;
    ::kill(pid_, SIGTERM);
    if (waitFor(grace) < 0 && running()) {
        ::kill(pid_, SIGKILL);
        reap(true);
    }
    return status_;
}

std::int64_t ChildProcess::cpuNanoseconds() const {
    if (pid_ <= 0) return -1;
    const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) return -1;
    std::int64_t total = 0;
    bool any = false;
    while (const dirent* task = ::readdir(dir)) {
        if (task->d_name[0] == '.') continue;
        // First field: time spent on a CPU, in nanoseconds.
        std::ifstream schedstat(tasks + "/" + task->d_name + "/schedstat");
        std::int64_t onCpu = 0;
        if (schedstat >> onCpu) {
            total += onCpu;
            any = true;
        }
    }
    ::closedir(dir);
    return any ? total : -1;
}
