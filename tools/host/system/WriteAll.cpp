#include "WriteAll.h"

#include <cerrno>

#include <unistd.h>

namespace host {

bool writeAll(int fd, const std::string& text, const std::atomic<bool>* giveUp) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        if (giveUp != nullptr && giveUp->load()) {
            errno = EINTR;
            return false;
        }
        ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace host
