#include "LineSink.h"

#include <cerrno>
#include <ctime>

namespace sim {

bool LineSink::sleepUntil(std::chrono::steady_clock::time_point when) {
    // steady_clock is CLOCK_MONOTONIC here; an absolute deadline keeps a paced
    // stream from drifting however long each write took.
    auto since = when.time_since_epoch();
    timespec deadline{};
    deadline.tv_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
    deadline.tv_nsec = static_cast<long>((since - std::chrono::seconds(deadline.tv_sec)).count());
    while (!stop_.load()) {
        int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        if (rc == 0) return true;
        if (rc != EINTR) return false;
    }
    return false;
}

bool LineSink::send(const Bytes& bytes) {
    if (trace_ != nullptr) std::fprintf(trace_, "-> %s\n", hexText(bytes).c_str());
    // Stamped as the write of the last byte begins: a reader may have it
    // before this process runs again after the write.
    std::chrono::steady_clock::time_point lastByte{};
    if (byteTime_.count() == 0) {
        lastByte = std::chrono::steady_clock::now();
        if (!line_.write(bytes.data(), bytes.size(), stop_, error_)) return false;
    } else {
        auto now = std::chrono::steady_clock::now();
        if (nextByte_ < now) nextByte_ = now;
        for (std::uint8_t byte : bytes) {
            if (!sleepUntil(nextByte_)) return false;
            lastByte = std::chrono::steady_clock::now();
            if (!line_.write(&byte, 1, stop_, error_)) return false;
            nextByte_ += byteTime_;
        }
    }
    bytesSent_ += bytes.size();
    if (stamps_ != nullptr) {
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(lastByte.time_since_epoch());
        std::fprintf(stamps_, "%lld\n", static_cast<long long>(ns.count()));
    }
    return true;
}

bool LineSink::pause(Duration duration) {
    return sleepUntil(std::chrono::steady_clock::now() + duration);
}

bool LineSink::unplug() {
    if (trace_ != nullptr) std::fprintf(trace_, "-- unplugged\n");
    line_.unplug();
    return !stop_.load();
}

bool LineSink::plug() {
    if (!line_.plug(error_)) return false;
    if (trace_ != nullptr) std::fprintf(trace_, "-- plugged in: %s\n", line_.path().c_str());
    // The new terminal's path, for whoever follows the first one.
    std::printf("%s\n", line_.path().c_str());
    std::fflush(stdout);
    if (waitForReader_) line_.waitForReader(stop_, std::chrono::milliseconds(1000));
    return !stop_.load();
}

const char* const kCaptureHeader = "# quorlix-sim capture 1";

bool isCapture(const std::string& text) {
    std::string first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r') first.pop_back();
    return first == kCaptureHeader;
}

CaptureSink::CaptureSink(ScriptSink& next, std::FILE* out, const std::string& about)
    : next_(next), out_(out), last_(std::chrono::steady_clock::now()) {
    std::fprintf(out_, "%s\n", kCaptureHeader);
    if (!about.empty()) {
        // One comment line, whatever a file name holds.
        std::string line = about;
        for (char& c : line)
            if (static_cast<unsigned char>(c) < 0x20) c = '?';
        std::fprintf(out_, "# %s\n", line.c_str());
    }
    std::fflush(out_);
}

void CaptureSink::noteGap() {
    auto now = std::chrono::steady_clock::now();
    auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_).count();
    if (gap > 0) std::fprintf(out_, "wait %lldms\n", static_cast<long long>(gap));
    last_ = now;
}

bool CaptureSink::send(const Bytes& bytes) {
    noteGap();
    std::fprintf(out_, "raw %s\n", hexText(bytes).c_str());
    std::fflush(out_);
    return next_.send(bytes);
}

bool CaptureSink::unplug() {
    noteGap();
    std::fprintf(out_, "unplug\n");
    return next_.unplug();
}

bool CaptureSink::plug() {
    noteGap();
    std::fprintf(out_, "plug\n");
    return next_.plug();
}

}  // namespace sim
