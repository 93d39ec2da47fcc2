#include "platform/posix/SerialPath.h"

#include <cctype>
#include <cstring>

namespace platform {

namespace {

// N of "comN" when the name is exactly that, otherwise 0.
unsigned long comNumber(const char* name) {
    if (std::strlen(name) < 4) return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != "com"[i]) return 0;
    }
    unsigned long n = 0;
    for (const char* p = name + 3; *p != '\0'; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
        n = n * 10 + static_cast<unsigned long>(*p - '0');
        if (n > 100000) return 0;  // no such line; keep the number small
    }
    return n;
}

}  // namespace

std::string serialDevicePath(const char* name) {
    if (name == nullptr || *name == '\0') return std::string();
    if (std::strchr(name, '/') != nullptr) return name;
    const unsigned long n = comNumber(name);
    if (n != 0) return "/dev/ttyS" + std::to_string(n - 1);
    return std::string("/dev/") + name;
}

}  // namespace platform
