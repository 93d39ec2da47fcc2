// Every function of platform/SerialLine.h for Windows, and nothing else:
// a program that links its own line leaves this file out entirely.
#include "platform/SerialLine.h"

#include <windows.h>

#include <cstring>

static_assert(sizeof(DCB) == sizeof(PortDcb), "PortDcb is the Windows DCB");
static_assert(sizeof(COMMTIMEOUTS) == sizeof(PortTimeouts), "PortTimeouts is the Windows COMMTIMEOUTS");
static_assert(offsetof(DCB, BaudRate) == offsetof(PortDcb, BaudRate) &&
                  offsetof(DCB, XonLim) == offsetof(PortDcb, XonLim) &&
                  offsetof(DCB, XoffLim) == offsetof(PortDcb, XoffLim) &&
                  offsetof(DCB, ByteSize) == offsetof(PortDcb, ByteSize) &&
                  offsetof(DCB, Parity) == offsetof(PortDcb, Parity) &&
                  offsetof(DCB, StopBits) == offsetof(PortDcb, StopBits) &&
                  offsetof(DCB, XonChar) == offsetof(PortDcb, XonChar) &&
                  offsetof(DCB, XoffChar) == offsetof(PortDcb, XoffChar) &&
                  offsetof(DCB, ErrorChar) == offsetof(PortDcb, ErrorChar) &&
                  offsetof(DCB, EofChar) == offsetof(PortDcb, EofChar) &&
                  offsetof(DCB, EvtChar) == offsetof(PortDcb, EvtChar),
              "PortDcb fields sit where the Windows DCB has them");
static_assert(offsetof(COMMTIMEOUTS, ReadTotalTimeoutMultiplier) == offsetof(PortTimeouts, ReadTotalTimeoutMultiplier) &&
                  offsetof(COMMTIMEOUTS, ReadTotalTimeoutConstant) == offsetof(PortTimeouts, ReadTotalTimeoutConstant) &&
                  offsetof(COMMTIMEOUTS, WriteTotalTimeoutConstant) == offsetof(PortTimeouts, WriteTotalTimeoutConstant),
              "PortTimeouts fields sit where COMMTIMEOUTS has them");

namespace platform {

namespace {

HANDLE handleOf(SerialHandle line) { return reinterpret_cast<HANDLE>(line); }

}  // namespace

SerialHandle openSerialLine(const char* name) {
    // The name goes to the system exactly as given; share mode 0 makes the open exclusive.
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return kInvalidSerialLine;
    return reinterpret_cast<SerialHandle>(h);
}

bool getSerialState(SerialHandle line, PortDcb& dcb) {
    DCB state;
    std::memcpy(&state, &dcb, sizeof state);
    if (!GetCommState(handleOf(line), &state)) return false;
    std::memcpy(&dcb, &state, sizeof state);
    return true;
}

bool getSerialTimeouts(SerialHandle line, PortTimeouts& timeouts) {
    COMMTIMEOUTS t;
    if (!GetCommTimeouts(handleOf(line), &t)) return false;
    std::memcpy(&timeouts, &t, sizeof t);
    return true;
}

bool setSerialState(SerialHandle line, const PortDcb& dcb) {
    DCB state;
    std::memcpy(&state, &dcb, sizeof state);
    return SetCommState(handleOf(line), &state) != 0;
}

bool setSerialTimeouts(SerialHandle line, const PortTimeouts& timeouts) {
    COMMTIMEOUTS t;
    std::memcpy(&t, &timeouts, sizeof t);
    return SetCommTimeouts(handleOf(line), &t) != 0;
}

bool readSerialLine(SerialHandle line, void* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    DWORD got = 0;
    const BOOL ok = ReadFile(handleOf(line), buffer, count, &got, NULL);
    bytesRead = got;
    return ok != 0;
}

bool closeSerialLine(SerialHandle line) { return CloseHandle(handleOf(line)) != 0; }

}  // namespace platform
