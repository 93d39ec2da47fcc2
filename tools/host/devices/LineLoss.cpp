#include "LineLoss.h"

#include <algorithm>
#include <chrono>

namespace host {

unsigned LineLoss::release(const std::string& device, const DeviceViews& views) {
    const std::int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    ChangeEvent event;
    event.kind = ChangeEvent::Kind::controller;
    event.device = &device;
    event.lost = true;
    unsigned released = 0;
    const std::uint32_t last = std::min<std::uint32_t>(views.conCount, QUORLIX_SHM_ENTRIES);
    for (std::uint32_t n = views.conOffset + 1; n <= last; ++n) {
        if (!storages_.releaseController(n, nowUs, event.con)) continue;
        event.entry = n;
        listener_.changed(event);
        ++released;
    }
    return released;
}

}  // namespace host
