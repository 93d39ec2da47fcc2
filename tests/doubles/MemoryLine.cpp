// The platform/SerialLine.h functions over bytes held in memory: what the
// quorlix_memory_line target gives a program in place of quorlix_serial_line.
#include "MemoryLine.h"

#include "platform/SerialLine.h"

#include <cerrno>
#include <cstring>

namespace {

const std::uint8_t* served = nullptr;
std::size_t servedSize = 0;
std::size_t position = 0;
std::vector<std::uint8_t> repeated;
bool looping = false;
std::size_t failurePosition = memoryline::kNever;
std::size_t flagPosition = memoryline::kNever;
std::int32_t* hostFlag = nullptr;

// Any handle but the two that mean "none" and "failed".
constexpr platform::SerialHandle kMemoryLine = 0x4D454D;

}  // namespace

namespace memoryline {

void serve(const std::uint8_t* bytes, std::size_t size) {
    served = bytes;
    servedSize = bytes != nullptr ? size : 0;
    position = 0;
    looping = false;
    failurePosition = kNever;
    flagPosition = kNever;
    hostFlag = nullptr;
}

void repeat(const std::vector<std::uint8_t>& bytes) {
    repeated = bytes;
    serve(repeated.data(), repeated.size());
    looping = true;
}

void failReadAt(std::size_t at) { failurePosition = at; }

void clearFlagAt(std::size_t at, std::int32_t* flag) {
    flagPosition = at;
    hostFlag = flag;
}

bool exhausted() { return position >= servedSize; }

}  // namespace memoryline

namespace platform {

SerialHandle openSerialLine(const char*) { return kMemoryLine; }

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
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (bytesRead < count && position < servedSize) {
        if (position == flagPosition && hostFlag != nullptr) {
            *hostFlag = 0;
            flagPosition = memoryline::kNever;
        }
        if (position == failurePosition) {
            if (bytesRead > 0) return true;  // the next read fails
            failurePosition = memoryline::kNever;
            errno = EIO;
            return false;
        }
        out[bytesRead++] = served[position++];
        if (looping && position == servedSize) position = 0;
    }
    return true;
}

bool closeSerialLine(SerialHandle) { return true; }

}  // namespace platform
