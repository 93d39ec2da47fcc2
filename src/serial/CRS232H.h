#pragma once

#include "platform/PortAttributes.h"
#include "platform/SerialLine.h"

#include <cstdint>

class CLogH;

// One serial port of the system: opened exclusively by name, read
// synchronously within its time-outs, and given back with the settings it
// had when it was opened. There is no write operation.
class CRS232H {
public:
    static constexpr std::uint32_t kMaxNameLength = 255;

    // The logger, if given, is copied; the port always owns its own.
    explicit CRS232H(const CLogH* hostLogger);
    ~CRS232H();
    CRS232H(const CRS232H&) = delete;
    CRS232H& operator=(const CRS232H&) = delete;

    bool openPort(const char* name);
    bool getAttributes(PortAttributes* block);
    // Changes only the working set; the port is not touched.
    bool storeAttributes(const PortAttributes* block);
    bool setBaudRate(std::int32_t rate);
    // Applies the block, or the working set when the block is null.
    bool setAttributes(const PortAttributes* block);
    // Bytes read, 0 when the time-out passed without any, -1 on failure.
    std::int32_t read(void* buffer, std::uint32_t count);
    bool closePort();

private:
    void reportSystemError(const char* prefix) const;

    bool ownsLogger;
    char portName[kMaxNameLength + 1];
    platform::SerialHandle handle;
    PortAttributes savedAttributes;
    PortAttributes workingAttributes;
    CLogH* logger;
};
