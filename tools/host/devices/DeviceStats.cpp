#include "DeviceStats.h"

namespace host {

const char* stateName(int state) {
    switch (state) {
    case DeviceStats::starting: return "starting";
    case DeviceStats::running: return "running";
    case DeviceStats::reconnecting: return "reconnecting";
    case DeviceStats::stopped: return "stopped";
    case DeviceStats::waiting: return "waiting for its port";
    default: return "failed";
    }
}

}  // namespace host
