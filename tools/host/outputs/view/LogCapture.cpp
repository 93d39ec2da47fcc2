#include "LogCapture.h"

#include "WriteAll.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <iostream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace host {

LogCapture::~LogCapture() { stop(); }

bool LogCapture::start(int& screen) {
    if (pipe(pipe_) != 0) return false;
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(pipe_[0]);
        ::close(pipe_[1]);
        pipe_[0] = pipe_[1] = -1;
        return false;
    }
    fcntl(pipe_[0], F_SETFD, FD_CLOEXEC);
    fcntl(pipe_[1], F_SETFD, FD_CLOEXEC);
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    savedErr_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (savedOut_ < 0 || savedErr_ < 0 || dup2(pipe_[1], STDOUT_FILENO) < 0 || dup2(pipe_[1], STDERR_FILENO) < 0) {
        stop();
        return false;
    }
    screen = savedOut_;
    // Room for bursts while the reader is not scheduled.
    fcntl(pipe_[0], F_SETPIPE_SZ, 1 << 20);
    reader_ = std::thread(&LogCapture::collect, this);
    if (logFile_ >= 0 || passOn_) writer_.start([this] { writeOn(); });
    return true;
}

bool LogCapture::stop(std::chrono::steady_clock::time_point deadline) {
    if (savedOut_ >= 0) {
        std::cout.flush();
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(savedOut_, STDOUT_FILENO);
        dup2(savedErr_, STDERR_FILENO);
    }
    readUntilNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    stopping_ = true;
    if (wake_[1] >= 0 && ::write(wake_[1], "", 1) < 0) {
        // A full wake pipe wakes the reader as well.
    }
    if (reader_.joinable()) reader_.join();
    {
        std::lock_guard<std::mutex> lock(backlogMutex_);
        backlogClosed_ = true;
    }
    backlogReady_.notify_all();
    if (!writer_.joinBefore(deadline)) {
        // Still blocked in a write: the descriptors stay, for it.
        pipe_[0] = pipe_[1] = savedOut_ = savedErr_ = -1;
        return false;
    }
    for (int* fd : {&pipe_[0], &pipe_[1], &savedOut_, &savedErr_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
    return true;
}

// The host's own lines always get a date and time in the file (the devices'
// lines as their configuration says), so a log read later tells when the
// host saw each thing happen.
void LogCapture::toFile(const std::string& bytes, bool last) {
    fileLine_ += bytes;
    std::string out;
    auto put = [&out](const std::string& line) {
        static const std::string ours = "quorlix-host: ";
        if (line.compare(0, ours.size(), ours) == 0) {
            std::time_t now = std::time(nullptr);
            std::tm local{};
            char stamp[64];
            if (localtime_r(&now, &local) != nullptr && std::strftime(stamp, sizeof stamp, "%b %d %X ", &local) > 0)
                out += stamp;
        }
        out += line;
    };
    std::size_t start = 0;
    for (std::size_t end; (end = fileLine_.find('\n', start)) != std::string::npos; start = end + 1)
        put(fileLine_.substr(start, end + 1 - start));
    fileLine_.erase(0, start);
    if (last || fileLine_.size() >= kLongestLine) {
        if (!fileLine_.empty()) put(fileLine_);
        fileLine_.clear();
    }
    writeAll(logFile_, out, &writer_.givingUp());
}

void LogCapture::collect() {
    char buffer[4096];
    for (;;) {
        // Asleep until there is log or a stop: a quiet host costs nothing here.
        pollfd p[2] = {{pipe_[0], POLLIN, 0}, {wake_[0], POLLIN, 0}};
        int ready = poll(p, stopping_ ? 1 : 2, stopping_ ? 0 : -1);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && (p[0].revents & POLLIN) == 0) ready = 0;  // the stop's wake alone
        // Stop once nothing is left in flight, or at the stop's deadline
        // when a child keeps writing.
        if (stopping_ && (ready <= 0 || std::chrono::steady_clock::now().time_since_epoch() >=
                                            std::chrono::nanoseconds(readUntilNs_.load())))
            break;
        if (ready <= 0) continue;
        ssize_t n = ::read(pipe_[0], buffer, sizeof buffer);
        if (n <= 0) break;
        if (logFile_ >= 0 || passOn_) pass(buffer, static_cast<std::size_t>(n));
        if (passOn_) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n' || partial_.size() >= kLongestLine) {
                // A line that never ends is cut into pieces, not kept whole.
                add(partial_);
                partial_.clear();
            }
            if (buffer[i] != '\n' && buffer[i] != '\r') partial_ += buffer[i];
        }
    }
}

// Into the backlog, unless it is full: then the bytes are dropped, counted
// by the lines they held.
void LogCapture::pass(const char* bytes, std::size_t size) {
    {
        std::lock_guard<std::mutex> lock(backlogMutex_);
        if (backlog_.size() + size > kBacklog) {
            std::uint64_t lines = 0;
            for (std::size_t i = 0; i < size; ++i) lines += bytes[i] == '\n';
            droppedLines_ += lines > 0 ? lines : 1;
            return;
        }
        backlog_.append(bytes, size);
    }
    backlogReady_.notify_one();
}

void LogCapture::writeOn() {
    for (;;) {
        std::string bytes;
        {
            std::unique_lock<std::mutex> lock(backlogMutex_);
            backlogReady_.wait(lock, [this] { return !backlog_.empty() || backlogClosed_; });
            if (backlog_.empty()) break;
            bytes.swap(backlog_);
        }
        if (logFile_ >= 0) toFile(bytes);
        if (passOn_) writeAll(savedErr_, bytes, &writer_.givingUp());
    }
    if (logFile_ >= 0 && !fileLine_.empty()) toFile("", true);
}

void LogCapture::add(const std::string& line) {
    std::string shown;
    if (!fold_.pass(line, shown)) return;
    lines_.push_back(shown);
    while (lines_.size() > keep_) lines_.pop_front();
}

std::string LogCapture::lastError(const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    return fold_.lastError(device);
}

std::vector<std::string> LogCapture::latest() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out(lines_.begin(), lines_.end());
    if (!partial_.empty()) out.push_back(partial_);
    return out;
}

}  // namespace host
