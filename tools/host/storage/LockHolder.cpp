#include "LockHolder.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/syscall.h>
#include <unistd.h>

namespace host {

pid_t lockOwnerThread(const pthread_mutex_t& mutex) {
    // The futex word; its top bits say "waiters" and "owner died".
    const int* word = reinterpret_cast<const int*>(&mutex);
    return static_cast<pid_t>(__atomic_load_n(word, __ATOMIC_RELAXED) & 0x3fffffff);
}

bool threadWaitsFor(pid_t tid, const pthread_mutex_t& mutex) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    std::string address;
    if (!(in >> number >> address)) return false;
    bool futex = number == SYS_futex;
#ifdef SYS_futex_time64
    futex = futex || number == SYS_futex_time64;
#endif
    return futex && std::strtoull(address.c_str(), nullptr, 16) == reinterpret_cast<std::uintptr_t>(&mutex);
}

pid_t currentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

}  // namespace host
