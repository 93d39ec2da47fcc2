#include "platform/ThreadId.h"

#include <windows.h>

namespace platform {

unsigned long currentThreadId() { return static_cast<unsigned long>(GetCurrentThreadId()); }

}  // namespace platform
