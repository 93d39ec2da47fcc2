#include "JsonFeed.h"

#include "RecordJson.h"

#include <cerrno>

#include <unistd.h>

namespace host {

void JsonFeed::changed(const ChangeEvent& event) {
    std::string line = event.kind == ChangeEvent::Kind::controller ? controllerJson(*event.device, event.entry, event.con, event.lost)
                                                                   : trackerJson(*event.device, event.entry, event.tra);
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.load() != 0) return;
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The host stops on it; the devices are not held up meanwhile.
            failure_ = n < 0 ? errno : EIO;
            return;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace host
