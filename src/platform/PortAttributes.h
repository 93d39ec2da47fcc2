#pragma once

#include <cstddef>
#include <cstdint>

// A serial line's settings as the Windows serial API lays them out: the DCB
// record directly followed by the COMMTIMEOUTS record. Callers hand the pair
// around as one block, so both records keep the Windows sizes, field names and
// bit-fields on every system.
struct PortDcb {
    std::uint32_t DCBlength;
    std::uint32_t BaudRate;
    std::uint32_t fBinary : 1;
    std::uint32_t fParity : 1;
    std::uint32_t fOutxCtsFlow : 1;
    std::uint32_t fOutxDsrFlow : 1;
    std::uint32_t fDtrControl : 2;
    std::uint32_t fDsrSensitivity : 1;
    std::uint32_t fTXContinueOnXoff : 1;
    std::uint32_t fOutX : 1;
    std::uint32_t fInX : 1;
    std::uint32_t fErrorChar : 1;
    std::uint32_t fNull : 1;
    std::uint32_t fRtsControl : 2;
    std::uint32_t fAbortOnError : 1;
    std::uint32_t fDummy2 : 17;
    std::uint16_t wReserved;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    std::uint16_t wReserved1;
};

// Read time-outs in milliseconds: a read of n bytes gives up after
// ReadTotalTimeoutMultiplier * n + ReadTotalTimeoutConstant.
struct PortTimeouts {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
};

struct PortAttributes {
    PortDcb dcb;
    PortTimeouts timeouts;
};

// Values of the byte-sized DCB fields, as Windows numbers them.
namespace portvalue {
constexpr std::uint8_t kNoParity = 0;
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kMarkParity = 3;
constexpr std::uint8_t kSpaceParity = 4;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kOne5StopBits = 1;
constexpr std::uint8_t kTwoStopBits = 2;
constexpr std::uint32_t kRtsHandshake = 2;
// ReadIntervalTimeout value that, with both totals 0, returns at once with what is there.
constexpr std::uint32_t kNoWait = 0xFFFFFFFFu;
}  // namespace portvalue

static_assert(sizeof(PortDcb) == 28, "DCB as Windows lays it out");
static_assert(sizeof(PortTimeouts) == 20, "COMMTIMEOUTS as Windows lays it out");
static_assert(sizeof(PortAttributes) == 48, "the time-outs follow the DCB directly");
static_assert(offsetof(PortDcb, BaudRate) == 4 && offsetof(PortDcb, wReserved) == 12 &&
                  offsetof(PortDcb, XonLim) == 14 && offsetof(PortDcb, XoffLim) == 16 &&
                  offsetof(PortDcb, ByteSize) == 18 && offsetof(PortDcb, Parity) == 19 &&
                  offsetof(PortDcb, StopBits) == 20 && offsetof(PortDcb, XonChar) == 21 &&
                  offsetof(PortDcb, XoffChar) == 22 && offsetof(PortDcb, ErrorChar) == 23 &&
                  offsetof(PortDcb, EofChar) == 24 && offsetof(PortDcb, EvtChar) == 25 &&
                  offsetof(PortDcb, wReserved1) == 26,
              "DCB fields");
static_assert(offsetof(PortTimeouts, ReadTotalTimeoutMultiplier) == 4 &&
                  offsetof(PortTimeouts, ReadTotalTimeoutConstant) == 8 &&
                  offsetof(PortTimeouts, WriteTotalTimeoutMultiplier) == 12 &&
                  offsetof(PortTimeouts, WriteTotalTimeoutConstant) == 16,
              "COMMTIMEOUTS fields");
static_assert(offsetof(PortAttributes, timeouts) == 28, "the time-outs follow the DCB directly");
