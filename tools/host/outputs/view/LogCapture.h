// outputs/view/: the terminal view: the devices, their entries and the log, live or as plain text.
#pragma once

#include "LogFold.h"
#include "OutputThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace host {

// While the terminal view owns the screen, whatever the host, its devices and
// their children write to standard output and error is caught here line by
// line, and the latest lines are shown inside the view. Without a view it
// only passes everything on to standard error; either way a log file, when
// given, gets every byte. The pipe is always read at once and the bytes are
// written on from a thread of their own: a slow or blocked log never holds
// up the writer (a device inside the plug-in); what does not fit the
// backlog is dropped and counted.
class LogCapture {
public:
    // Longer lines are shown in pieces of this size.
    static constexpr std::size_t kLongestLine = 4096;
    // Bytes waiting for a slow log, at most.
    static constexpr std::size_t kBacklog = 1 << 20;

    // `devices`: the names whose reconnect tries are folded (see LogFold).
    explicit LogCapture(std::size_t keep, std::vector<std::string> devices = {})
        : keep_(keep), fold_(std::move(devices)) {}
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Redirects both streams; `screen` becomes a descriptor of the terminal
    // that standard output was. False when the streams could not be moved.
    bool start(int& screen);
    // Before start: every byte also goes to `fd` (not closed here); and,
    // with `passOn`, to standard error as it was, for a host without a view.
    void keepIn(int fd) { logFile_ = fd; }
    void passOn() { passOn_ = true; }
    // Puts both streams back; lines still in flight are written until
    // `deadline`, then given up. False when a write could not be ended: the
    // thread is left, and this object with it.
    bool stop(std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() +
                                                               std::chrono::seconds(1));
    // Log lines dropped because their way out was too slow.
    std::uint64_t droppedLines() const { return droppedLines_.load(); }

    std::vector<std::string> latest();
    // The device's last error line, as LogFold::lastError.
    std::string lastError(const std::string& device);

private:
    void collect();
    void add(const std::string& line);
    void pass(const char* bytes, std::size_t size);
    void writeOn();
    void toFile(const std::string& bytes, bool last = false);

    std::size_t keep_;
    int pipe_[2] = {-1, -1};
    int wake_[2] = {-1, -1};  // written once at the stop, to wake the reader
    int savedOut_ = -1;
    int savedErr_ = -1;
    int logFile_ = -1;
    bool passOn_ = false;
    std::atomic<bool> stopping_{false};
    std::atomic<std::int64_t> readUntilNs_{0};  // after a stop, the reader ends by then at the latest
    std::thread reader_;
    std::mutex mutex_;
    std::deque<std::string> lines_;
    std::string partial_;
    std::string fileLine_;  // the log file's line not yet ended
    LogFold fold_;
    // The backlog between the reader and the writer.
    std::mutex backlogMutex_;
    std::condition_variable backlogReady_;
    std::string backlog_;
    bool backlogClosed_ = false;
    std::atomic<std::uint64_t> droppedLines_{0};
    OutputThread writer_;
};

}  // namespace host
