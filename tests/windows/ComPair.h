#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The two COM ports the test run wires to each other (a null-modem pair):
// the code under test reads the wand's port, the test writes on the far one.
namespace compair {

// Ports as the build passes them to the test run (com5 and com6 by default).
const char* wandPort();
const char* farPort();

// Sets a line up as the wand's is: 9600 baud, 8 data bits, no parity, one
// stop bit, no flow control; reads wait at most 100 ms per byte.
bool setWandLine(HANDLE line, DWORD baudRate = CBR_9600);

// The wand's end: sends bytes into the wand's port. Discards whatever is
// left on both ports when it starts, so every test begins on quiet lines.
class FarEnd {
public:
    FarEnd();
    ~FarEnd();
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;

    bool ok() const { return line_ != INVALID_HANDLE_VALUE; }
    // Why it is not ok, for the test's failure message.
    const std::string& problem() const { return problem_; }
    bool send(const std::vector<std::uint8_t>& bytes);
    bool send(const std::string& bytes);

private:
    HANDLE line_ = INVALID_HANDLE_VALUE;
    std::string problem_;
};

// Windows refuses a second opener of a COM port. Wine lets both share it,
// so there the refusal cannot be tested (nor probed: two handles on one
// line crash Wine's 32-bit build under qemu).
bool portsAreExclusive();

// Opens a port directly, as a host or another program would; INVALID_HANDLE_VALUE on failure.
HANDLE openPort(const char* name);

}  // namespace compair
