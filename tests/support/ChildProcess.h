#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/types.h>

// A program run as a child, its output collected as it comes, or written to
// a file for a long measurement. Under an emulator (32-bit builds on a kernel
// that cannot run them) the programs of this build run through it.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv);
    // Standard output and error both go to `outputFile`; nothing is collected.
    ChildProcess(std::vector<std::string> argv, const std::string& outputFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    bool running();

    // Waits until a line of standard output satisfies `match` (true) or
    // `limit` passes (false). Lines seen are kept. `match` runs under the
    // collector's lock: it must not call back into this object.
    bool waitForLine(const std::function<bool(const std::string&)>& match, std::chrono::milliseconds limit);
    bool waitForLines(std::size_t count, std::chrono::milliseconds limit);
    // Waits until all lines of standard output so far satisfy `match`.
    bool waitForOutput(const std::function<bool(const std::vector<std::string>&)>& match,
                       std::chrono::milliseconds limit);
    bool waitForErrorText(const std::string& text, std::chrono::milliseconds limit);

    std::vector<std::string> lines();
    std::string errorText();
    std::string outputText();

    void signal(int number);
    // The exit status, or -1 when it is still running after `limit` (-2 when
    // it ended by a signal).
    int wait(std::chrono::milliseconds limit);
    // SIGTERM, then SIGKILL if it has not ended within `grace`; as wait.
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));
    // CPU time of all its threads so far, nanoseconds (the scheduler's own
    // account); -1 when the system does not tell.
    std::int64_t cpuNanoseconds() const;
    // How often its threads went to sleep so far (each sleep ends in a
    // wake-up), from the scheduler's voluntary switches; -1 when not told.
    std::int64_t sleeps() const;
    pid_t pid() const { return pid_; }

private:
    void spawn(std::vector<std::string> argv, posix_spawn_file_actions_t& actions);
    void collect(int out, int err);
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

    pid_t pid_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    bool closed_ = false;  // both pipes reached their end
    std::thread reader_;
};

// The emulator's command words, empty for native builds.
std::vector<std::string> emulatorWords();
bool underEmulator();
