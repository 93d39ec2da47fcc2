#include "PseudoTerminal.h"

#include <pty.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal() {
    char path[128] = {};
    if (openpty(&master_, &line_, path, nullptr, nullptr) != 0) {
        master_ = line_ = -1;
        return;
    }
    name_ = path;
}

PseudoTerminal::~PseudoTerminal() {
    hangUp();
    if (line_ >= 0) close(line_);
}

bool PseudoTerminal::send(const void* bytes, std::size_t count) {
    const char* p = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t n = write(master_, p, count);
        if (n <= 0) return false;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

void PseudoTerminal::hangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}
