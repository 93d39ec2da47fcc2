#include "ComPair.h"

namespace compair {

const char* wandPort() { return QUORLIX_WAND_PORT; }
const char* farPort() { return QUORLIX_FAR_PORT; }

HANDLE openPort(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

bool setWandLine(HANDLE line, DWORD baudRate) {
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baudRate;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    COMMTIMEOUTS timeouts;
    ZeroMemory(&timeouts, sizeof timeouts);
    timeouts.ReadTotalTimeoutMultiplier = 100;
    return SetCommState(line, &dcb) && SetCommTimeouts(line, &timeouts);
}

bool portsAreExclusive() {
    // Wine's own way to tell it apart from Windows.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll == NULL || GetProcAddress(ntdll, "wine_get_version") == NULL;
}

namespace {

// Drops bytes a previous test left unread on a port.
bool drain(const char* name) {
    HANDLE line = openPort(name);
    if (line == INVALID_HANDLE_VALUE) return false;
    const bool ok = setWandLine(line) && PurgeComm(line, PURGE_RXCLEAR | PURGE_TXCLEAR);
    CloseHandle(line);
    return ok;
}

}  // namespace

FarEnd::FarEnd() {
    if (!drain(wandPort())) {
        problem_ = std::string("cannot open ") + wandPort() + " (run the tests through ctest or scripts/run-windows-tests)";
        return;
    }
    line_ = openPort(farPort());
    if (line_ == INVALID_HANDLE_VALUE || !setWandLine(line_) || !PurgeComm(line_, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        problem_ = std::string("cannot set up ") + farPort();
        if (line_ != INVALID_HANDLE_VALUE) CloseHandle(line_);
        line_ = INVALID_HANDLE_VALUE;
    }
}

FarEnd::~FarEnd() {
    if (line_ != INVALID_HANDLE_VALUE) CloseHandle(line_);
}

bool FarEnd::send(const std::vector<std::uint8_t>& bytes) {
    DWORD written = 0;
    return WriteFile(line_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) &&
           written == bytes.size();
}

bool FarEnd::send(const std::string& bytes) { return send(std::vector<std::uint8_t>(bytes.begin(), bytes.end())); }

}  // namespace compair
