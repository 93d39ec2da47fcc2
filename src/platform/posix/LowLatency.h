#pragma once

namespace platform {

// The driver's low-latency flag (Linux's ASYNC_LOW_LATENCY).
constexpr int kLowLatencyFlag = 0x2000;

// How a serial driver's flags (struct serial_struct) are read and written:
// the system's own ioctls, or a stand-in for a UART in a test. Both return
// false and leave errno set when the driver keeps no such flags.
struct SerialFlagsAccess {
    bool (*get)(int fd, int& flags);
    bool (*set)(int fd, int flags);
};

// TIOCGSERIAL / TIOCSSERIAL where the system has them.
const SerialFlagsAccess& systemSerialFlags();

// The driver's low-latency mode of one open line (ASYNC_LOW_LATENCY): a
// USB-serial adapter then passes received bytes on within 1 ms instead of
// holding them for its latency timer (16 ms by default).
class LowLatencyMode {
public:
    explicit LowLatencyMode(const SerialFlagsAccess& access = systemSerialFlags()) : access_(&access) {}

    // Turns the mode on where the driver offers it and lets it be changed.
    // A line that does not (pseudo-terminals, some adapters) stays as it was,
    // silently: the mode only shortens waits, nothing depends on it.
    void turnOn(int fd);
    // Puts back the flags turnOn found, if it changed them.
    void putBack(int fd);

private:
    const SerialFlagsAccess* access_;
    int found_ = 0;
    bool changed_ = false;
};

}  // namespace platform
