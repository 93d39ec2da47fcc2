// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <string>

namespace host {

// The host's own messages: "quorlix-host: TEXT" on standard error, one whole
// line per call even when device threads speak at once.
void hostMessage(const std::string& text);

}  // namespace host
