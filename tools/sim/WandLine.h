#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

// The simulator's end of the wand's serial line: a fresh pseudo-terminal whose
// other end a host opens like a serial port, or a real serial device.
class WandLine {
public:
    ~WandLine();
    WandLine(const WandLine&) = delete;
    WandLine& operator=(const WandLine&) = delete;

    // A new pseudo-terminal. With a link path, a symbolic link there always
    // points at the current terminal, so a host can keep one port name across
    // unplug and plug; only a link of that kind is ever replaced there.
    static std::unique_ptr<WandLine> openPty(const std::string& link, std::string& error);
    // A real serial device, raw 8N1 at the given rate.
    static std::unique_ptr<WandLine> openDevice(const std::string& path, int baud, std::string& error);

    // The name a host opens: the terminal's path, or the link when one was given.
    std::string portName() const { return link_.empty() ? path_ : link_; }
    const std::string& path() const { return path_; }
    bool isPty() const { return pty_; }
    bool plugged() const { return fd_ >= 0; }

    // Writes all bytes; false on a write error or when `stop` became true.
    bool write(const std::uint8_t* data, std::size_t size, const std::atomic<bool>& stop, std::string& error);

    // Pseudo-terminal: closes both ends, so the host's reads fail as on a pulled
    // adapter, and removes the link if it still points there. Device: closes it.
    void unplug();
    // Opens a new pseudo-terminal (or the device again) and points the link at it.
    bool plug(std::string& error);

    // Waits until a host holds the line open for itself (exclusive mode);
    // false when `stop` came first. Where the system cannot tell, waits `fallback`.
    bool waitForReader(const std::atomic<bool>& stop, std::chrono::milliseconds fallback);
    // Waits until the host has read what was written, at most `limit`.
    void drain(std::chrono::milliseconds limit, const std::atomic<bool>& stop);

private:
    WandLine() = default;
    bool openPtyPair(std::string& error);
    bool openDeviceFd(std::string& error);
    bool updateLink(std::string& error);

    bool pty_ = false;
    int fd_ = -1;       // master, or the device
    int slaveFd_ = -1;  // held open so the terminal keeps its settings and queue between host opens
    int baud_ = 9600;
    std::string path_;
    std::string link_;
    std::string linked_;  // where we last pointed the link; empty while there is none of ours
};

// Puts an open terminal into raw 8N1 at `baud`, no echo, modem lines ignored.
bool configureRaw(int fd, int baud);

// Seconds the line needs for one byte of 8N1 at `baud` (start, 8 data, stop bit).
std::chrono::nanoseconds byteTime(int baud);

}  // namespace sim
