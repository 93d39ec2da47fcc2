// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <atomic>
#include <string>

namespace host {

// Writes the whole text to a file descriptor, giving up on the first failed
// write: false then, with errno saying why. With `giveUp`, a write that was
// interrupted (see wakeThread) while it is set is given up too (EINTR).
bool writeAll(int fd, const std::string& text, const std::atomic<bool>* giveUp = nullptr);

}  // namespace host
