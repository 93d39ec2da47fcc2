// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <string>

namespace host {

// Writes the whole text to a file descriptor, giving up on the first failed
// write: false then, with errno saying why.
bool writeAll(int fd, const std::string& text);

}  // namespace host
