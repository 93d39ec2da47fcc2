// devices/: the configured devices, each read on a thread of its own, and their serial lines.
#pragma once

#include "ChangeEvent.h"
#include "SharedStorages.h"

#include <cstdint>
#include <string>

namespace host {

// A device whose line is gone (pulled adapter, failing reads, the device set
// up again) can no longer release what it pressed. Its controller entries
// get a record with nothing pressed and every valuator 0 (tracker poses
// stay), marked lost for readers until the device publishes again, and the
// listeners hear of it, so no application keeps "grabbing" meanwhile.
class LineLoss {
public:
    LineLoss(SharedStorages& storages, ChangeListener& listener) : storages_(storages), listener_(listener) {}

    // Releases the controller entries `views` claimed for `device`; how many.
    // An entry whose lock was busy stays due and goes with the next retry().
    unsigned release(const std::string& device, const DeviceViews& views);
    unsigned retry();
    // The device is back: its own next record rewrites the entries.
    void forget() { due_ = 0; }

private:
    SharedStorages& storages_;
    ChangeListener& listener_;
    std::string device_;
    std::uint32_t due_ = 0;  // bit n - 1: entry n still to release
};

}  // namespace host
