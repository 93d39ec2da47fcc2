#include "RealtimeThread.h"

#include "HostLog.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include <pthread.h>
#include <sched.h>

namespace host {

bool runThisThreadRealtime(int priority) {
    sched_param p{};
    p.sched_priority = priority;
    const int result = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p);
    if (result == 0) return true;
    // Every device thread would say the same: once is enough.
    static std::atomic<bool> told{false};
    if (told.exchange(true)) return false;
    const std::string level = std::to_string(priority);
    if (result == EPERM) {
        hostMessage("realtime " + level + ": no permission for SCHED_FIFO (it needs CAP_SYS_NICE or an rtprio limit of "
                    "at least " + level + "; the service: a drop-in with RestrictRealtime=no, AmbientCapabilities=CAP_SYS_NICE "
                    "and CapabilityBoundingSet=CAP_SYS_NICE); the devices run with normal scheduling");
    } else {
        hostMessage("realtime " + level + ": " + std::strerror(result) + "; the device threads run with normal scheduling");
    }
    return false;
}

}  // namespace host
