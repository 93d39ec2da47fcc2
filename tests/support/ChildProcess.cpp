#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

std::vector<std::string> emulatorWords() {
    std::vector<std::string> words;
#if defined(QUORLIX_TEST_EMULATOR)
    std::string text = QUORLIX_TEST_EMULATOR;
    std::string::size_type start = 0;
    while (start <= text.size()) {
        std::string::size_type end = text.find('|', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
#endif
    return words;
}

bool underEmulator() { return !emulatorWords().empty(); }

ChildProcess::ChildProcess(std::vector<std::string> argv) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    posix_spawn_file_actions_addclose(&actions, err[1]);
    spawn(std::move(argv), actions);
    ::close(out[1]);
    ::close(err[1]);
    reader_ = std::thread(&ChildProcess::collect, this, out[0], err[0]);
}

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::string& outputFile) {
    closed_ = true;  // no pipes to drain
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    spawn(std::move(argv), actions);
}

namespace {

// A program of this build (32-bit where the emulator is for it); the
// system's own programs (a shell, oscdump, python3) run as they are.
bool needsEmulator(const std::string& program) {
    std::ifstream in(program, std::ios::binary);
    char ident[5] = {};
    return in.read(ident, sizeof ident) && std::string(ident, 4) == "\x7f" "ELF" && ident[4] == 1;  // ELFCLASS32
}

}  // namespace

void ChildProcess::spawn(std::vector<std::string> argv, posix_spawn_file_actions_t& actions) {
    std::vector<std::string> words;
    if (!argv.empty() && needsEmulator(argv[0])) words = emulatorWords();
    words.insert(words.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& w : words) args.push_back(&w[0]);
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        wait(std::chrono::seconds(5));
    }
    if (reader_.joinable()) reader_.join();
}

void ChildProcess::collect(int out, int err) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
            changed_.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool ChildProcess::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, done);
}

static std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool ChildProcess::waitForLine(const std::function<bool(const std::string&)>& match, std::chrono::milliseconds limit) {
    return waitUntil(
        [&] {
            for (const std::string& line : splitLines(out_))
                if (match(line)) return true;
            return false;
        },
        limit);
}

bool ChildProcess::waitForOutput(const std::function<bool(const std::vector<std::string>&)>& match,
                                 std::chrono::milliseconds limit) {
    return waitUntil([&] { return match(splitLines(out_)); }, limit);
}

bool ChildProcess::waitForLines(std::size_t count, std::chrono::milliseconds limit) {
    return waitUntil([&] { return splitLines(out_).size() >= count; }, limit);
}

bool ChildProcess::waitForErrorText(const std::string& text, std::chrono::milliseconds limit) {
    return waitUntil([&] { return err_.find(text) != std::string::npos; }, limit);
}

std::vector<std::string> ChildProcess::lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return splitLines(out_);
}

std::string ChildProcess::errorText() {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
}

std::string ChildProcess::outputText() {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

bool ChildProcess::running() { return pid_ > 0 && !reaped_ && wait(std::chrono::milliseconds(0)) == -1; }

int ChildProcess::stop(std::chrono::milliseconds grace) {
    if (!running()) return pid_ > 0 ? status_ : -1;
    ::kill(pid_, SIGTERM);
    if (wait(grace) == -1) {
        ::kill(pid_, SIGKILL);
        wait(std::chrono::seconds(5));
    }
    return status_;
}

// The sum over the process's threads of a number each thread's file `name`
// (in /proc/PID/task/TID) gives through `field`; -1 when none gave one.
static std::int64_t sumOverThreads(pid_t pid, const char* name, bool (*field)(std::istream&, std::int64_t&)) {
    if (pid <= 0) return -1;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) return -1;
    std::int64_t total = 0;
    bool any = false;
    while (const dirent* task = ::readdir(dir)) {
        if (task->d_name[0] == '.') continue;
        std::ifstream file(tasks + "/" + task->d_name + "/" + name);
        std::int64_t value = 0;
        if (field(file, value)) {
            total += value;
            any = true;
        }
    }
    ::closedir(dir);
    return any ? total : -1;
}

std::int64_t ChildProcess::cpuNanoseconds() const {
    // First field: time spent on a CPU, in nanoseconds.
    return sumOverThreads(pid_, "schedstat", [](std::istream& in, std::int64_t& ns) { return static_cast<bool>(in >> ns); });
}

std::int64_t ChildProcess::sleeps() const {
    return sumOverThreads(pid_, "status", [](std::istream& in, std::int64_t& count) {
        std::string word;
        while (in >> word) {
            if (word == "voluntary_ctxt_switches:") return static_cast<bool>(in >> count);
        }
        return false;
    });
}

void ChildProcess::signal(int number) {
    if (pid_ > 0 && !reaped_) ::kill(pid_, number);
}

int ChildProcess::wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -1;
    auto until = std::chrono::steady_clock::now() + limit;
    while (!reaped_) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            // What it wrote last may still be in the pipes.
            waitUntil([this] { return closed_; }, std::chrono::seconds(2));
            break;
        }
        if (std::chrono::steady_clock::now() >= until) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}
