#pragma once

#include "ScriptRunner.h"
#include "WandLine.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

// Sends script output down the wand line, paced at a line rate when asked.
class LineSink : public ScriptSink {
public:
    LineSink(WandLine& line, const std::atomic<bool>& stop) : line_(line), stop_(stop) {}

    // 0: write as fast as the line takes it.
    void setPace(int baud) { byteTime_ = byteTime(baud); }
    // Where to note, for each write, the monotonic time (ns) the write of its last byte began.
    void setStamps(std::FILE* stamps) { stamps_ = stamps; }
    // Where to describe each write ("-> 80 01 10 8F").
    void setTrace(std::FILE* trace) { trace_ = trace; }
    // After `plug`, go on only once a host holds the new line open.
    void setWaitForReader(bool wait) { waitForReader_ = wait; }

    bool send(const Bytes& bytes) override;
    bool pause(Duration duration) override;
    bool unplug() override;
    bool plug() override;

    const std::string& error() const { return error_; }
    std::uint64_t bytesSent() const { return bytesSent_; }

private:
    bool sleepUntil(std::chrono::steady_clock::time_point when);

    WandLine& line_;
    const std::atomic<bool>& stop_;
    std::chrono::nanoseconds byteTime_{0};
    std::chrono::steady_clock::time_point nextByte_{};
    std::FILE* stamps_ = nullptr;
    std::FILE* trace_ = nullptr;
    bool waitForReader_ = false;
    std::uint64_t bytesSent_ = 0;
    std::string error_;
};

// The first line of every capture: what --replay looks for, so that it never
// takes a script or a byte dump for one.
extern const char* const kCaptureHeader;

// True when `text` begins with kCaptureHeader as a line of its own.
bool isCapture(const std::string& text);

// Writes what passes through as a capture: kCaptureHeader, `about` as a
// comment (where and when it was taken), then a script that replays
// everything with its timing.
class CaptureSink : public ScriptSink {
public:
    CaptureSink(ScriptSink& next, std::FILE* out, const std::string& about = "");

    bool send(const Bytes& bytes) override;
    bool pause(Duration duration) override { return next_.pause(duration); }
    bool unplug() override;
    bool plug() override;

private:
    void noteGap();

    ScriptSink& next_;
    std::FILE* out_;
    std::chrono::steady_clock::time_point last_;
};

}  // namespace sim
