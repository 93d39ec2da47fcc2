#include "BenchLine.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

BenchLine::BenchLine() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    const char* name = ::ptsname(master_);
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || name == nullptr) {
        ::close(master_);
        master_ = -1;
        return;
    }
    name_ = name;
}

BenchLine::~BenchLine() {
    if (master_ >= 0) ::close(master_);
}

bool BenchLine::write(const void* bytes, std::size_t count) {
    return ::write(master_, bytes, count) == static_cast<ssize_t>(count);
}
