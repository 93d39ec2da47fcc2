#pragma once

#include <cstddef>
#include <cstdint>

class CLogH;

// The wand's wire format: a header byte, a body, a terminator byte.
namespace wand {

constexpr std::uint8_t kKeyHeader = 0x80;
constexpr std::uint8_t kTrimmedKeyHeader = 0x81;  // last two body bytes are not key data
constexpr std::uint8_t kTextHeader = 0x82;        // text/ACK record
constexpr std::uint8_t kTerminator = 0x8F;
constexpr std::uint8_t kAltTerminator = 0xFC;

constexpr int kButtons = 11;
// Body bytes kept per record; longer bodies are read to their end and cut.
constexpr std::size_t kBodyCapacity = 1024;

inline bool isHeader(std::uint8_t byte) {
    return byte == kKeyHeader || byte == kTrimmedKeyHeader || byte == kTextHeader;
}

inline bool isTerminator(std::uint8_t byte) { return byte == kTerminator || byte == kAltTerminator; }

// Bytes of a key record body that carry key data. A trimmed record shorter
// than its two extra bytes has none, rather than a wrapped huge length.
std::size_t keyDataLength(std::uint8_t header, std::size_t bodyLength);

// Sets to 1 every button that any (low, high) pair of the key data reports.
// Buttons are never cleared here; a trailing odd byte is ignored.
void pressReportedButtons(const std::uint8_t* data, std::size_t length, std::int32_t (&buttons)[kButtons]);

// The key data as DEBUG lines, one per pair: high and low byte in hex, then
// their bits from bit 7 down ("1" set, "_" clear). Key data without bytes
// gives one line of dashes.
void dumpKeyData(const CLogH& logger, const std::uint8_t* data, std::size_t length);

// A text/ACK body as one DEBUG line, up to its first zero byte and never past
// the stored bytes (a full buffer carries no terminator).
void showTextRecord(const CLogH& logger, const std::uint8_t* body, std::size_t length);

}  // namespace wand
