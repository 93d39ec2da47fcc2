#include "platform/ThreadId.h"

#include <pthread.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace platform {

unsigned long currentThreadId() {
#if defined(__linux__)
    return static_cast<unsigned long>(::syscall(SYS_gettid));
#else
    return reinterpret_cast<unsigned long>(pthread_self());
#endif
}

}  // namespace platform
