// The platform/SerialLine.h functions over a byte pattern held in memory, so
// benchmarks measure the driver and not the system's line.
#include "MemorySerialLine.h"

#include "platform/SerialLine.h"

namespace {

std::vector<std::uint8_t> pattern;
std::size_t position = 0;

}  // namespace

void setMemoryLineBytes(const std::vector<std::uint8_t>& bytes) {
    pattern = bytes;
    position = 0;
}

namespace platform {

SerialHandle openSerialLine(const char*) { return 1; }

bool getSerialState(SerialHandle, PortDcb& dcb) {
    dcb = PortDcb{};
    return true;
}

bool getSerialTimeouts(SerialHandle, PortTimeouts& timeouts) {
    timeouts = PortTimeouts{};
    return true;
}

bool setSerialState(SerialHandle, const PortDcb&) { return true; }

bool setSerialTimeouts(SerialHandle, const PortTimeouts&) { return true; }

bool readSerialLine(SerialHandle, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    bytesRead = 0;
    if (pattern.empty()) return true;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (bytesRead < count) {
        out[bytesRead++] = pattern[position];
        position = (position + 1) % pattern.size();
    }
    return true;
}

bool closeSerialLine(SerialHandle) { return true; }

}  // namespace platform
