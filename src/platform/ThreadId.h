#pragma once

namespace platform {

// The operating system's numeric id of the calling thread, as log lines show it.
unsigned long currentThreadId();

}  // namespace platform
