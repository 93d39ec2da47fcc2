#include "LineLoss.h"

#include <algorithm>
#include <chrono>

namespace host {

unsigned LineLoss::release(const std::string& device, const DeviceViews& views) {
    device_ = device;
    const std::uint32_t last = std::min<std::uint32_t>(views.conCount, QUORLIX_SHM_ENTRIES);
    for (std::uint32_t n = views.conOffset + 1; n <= last; ++n) due_ |= 1u << (n - 1);
    return retry();
}

unsigned LineLoss::retry() {
    const std::int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    ChangeEvent event;
    event.kind = ChangeEvent::Kind::controller;
    event.device = &device_;
    event.lost = true;
    unsigned released = 0;
    for (std::uint32_t n = 1; n <= QUORLIX_SHM_ENTRIES; ++n) {
        if ((due_ & (1u << (n - 1))) == 0 || storages_.releaseController(n, nowUs, event.con) != 0) continue;
        due_ &= ~(1u << (n - 1));
        event.entry = n;
        listener_.changed(event);
        ++released;
    }
    return released;
}

}  // namespace host
