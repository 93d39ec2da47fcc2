#include "HostLog.h"

#include "VisibleText.h"

#include <cerrno>
#include <mutex>

#include <unistd.h>

namespace host {

void hostMessage(const std::string& text) {
    static std::mutex mutex;
    std::string line = "quorlix-host: " + visibleText(text) + "\n";
    std::lock_guard<std::mutex> lock(mutex);
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace host
