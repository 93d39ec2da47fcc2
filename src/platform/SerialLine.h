#pragma once

#include "platform/PortAttributes.h"

#include <cstdint>

// A serial line of the operating system (target quorlix_serial_line); a
// program may link a stand-in target in its place. A failing function leaves
// its cause for lastSystemError().
namespace platform {

// Integer-sized handle of an open line.
using SerialHandle = std::intptr_t;
constexpr SerialHandle kNoSerialLine = 0;
constexpr SerialHandle kInvalidSerialLine = -1;

// Opens the named line for reading and writing, refusing a line that is
// already open; kInvalidSerialLine on failure.
SerialHandle openSerialLine(const char* name);

bool getSerialState(SerialHandle line, PortDcb& dcb);
bool getSerialTimeouts(SerialHandle line, PortTimeouts& timeouts);
bool setSerialState(SerialHandle line, const PortDcb& dcb);
bool setSerialTimeouts(SerialHandle line, const PortTimeouts& timeouts);

// Reads up to count bytes within the line's time-outs. A time-out is a
// success with fewer bytes (0 when none came); a line that hung up is a failure.
bool readSerialLine(SerialHandle line, void* buffer, std::uint32_t count, std::uint32_t& bytesRead);

// Puts back the settings the line had when it was opened, then closes it.
bool closeSerialLine(SerialHandle line);

}  // namespace platform
