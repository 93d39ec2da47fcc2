#include "plugin/KeyRecord.h"

#include "support/CLogH.h"

#include <cstring>
#include <iostream>

namespace wand {

namespace {

// Lines of the 16-bit word high × 256 + low that must all be set for each
// button, buttons 1 to 11 in order.
constexpr std::uint16_t kButtonLines[kButtons] = {
    0x1001, 0x0011, 0x0003, 0x0408, 0x000C, 0x0C00, 0x0804, 0x0009, 0x0801, 0x0006, 0x0402,
};

// "0xHH 0xLL " + 8 marks + "   " + 8 marks.
constexpr std::size_t kDumpLineLength = 45;

char* putHex(char* out, std::uint8_t byte) {
    static const char digits[] = "0123456789abcdef";
    *out++ = '0';
    *out++ = 'x';
    *out++ = digits[byte >> 4];
    *out++ = digits[byte & 0x0F];
    return out;
}

char* putBits(char* out, std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
        *out++ = ' ';
        *out++ = ((byte >> bit) & 1) != 0 ? '1' : '_';
    }
    return out;
}

void endLine(const char* text, std::size_t length) {
    std::cout.write(text, static_cast<std::streamsize>(length));
    std::cout << std::endl;
}

}  // namespace

std::size_t keyDataLength(std::uint8_t header, std::size_t bodyLength) {
    if (header != kTrimmedKeyHeader) return bodyLength;
    return bodyLength >= 2 ? bodyLength - 2 : 0;
}

void pressReportedButtons(const std::uint8_t* data, std::size_t length, std::int32_t (&buttons)[kButtons]) {
    for (std::size_t pos = 0; pos + 1 < length; pos += 2) {
        const std::uint16_t word = static_cast<std::uint16_t>(data[pos] | (data[pos + 1] << 8));
        for (int b = 0; b < kButtons; ++b) {
            if ((word & kButtonLines[b]) == kButtonLines[b]) buttons[b] = 1;
        }
    }
}

void dumpKeyData(const CLogH& logger, const std::uint8_t* data, std::size_t length) {
    if (length == 0) {
        logger.debug("CQuorlix: ", false);
        static const char empty[] = "0x00 0x00  - - - - - - - -    - - - - - - - -";
        endLine(empty, sizeof empty - 1);
        return;
    }
    for (std::size_t pos = 0; pos + 1 < length; pos += 2) {
        const std::uint8_t low = data[pos];
        const std::uint8_t high = data[pos + 1];
        char line[kDumpLineLength];
        char* out = putHex(line, high);
        *out++ = ' ';
        out = putHex(out, low);
        *out++ = ' ';
        out = putBits(out, high);
        std::memcpy(out, "   ", 3);
        out = putBits(out + 3, low);
        logger.debug("CQuorlix: ", false);
        endLine(line, static_cast<std::size_t>(out - line));
    }
}

void showTextRecord(const CLogH& logger, const std::uint8_t* body, std::size_t length) {
    logger.debug("CQuorlix: text/ACK record: ", false);
    const void* zero = std::memchr(body, 0, length);
    const std::size_t shown = zero != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - body)
                                              : length;
    endLine(reinterpret_cast<const char*>(body), shown);
}

}  // namespace wand
