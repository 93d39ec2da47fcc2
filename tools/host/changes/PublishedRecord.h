// changes/: the change bus: each record a device rewrote, handed to every output.
#pragma once

#include "ChangeEvent.h"
#include "HostConfig.h"
#include "quorlix/shm.h"

#include <cstdint>

namespace host {

// A change that outlives its event: the record, with the name of the device that owns
// its entry (copied: the record may leave after its device has gone).
struct PublishedRecord {
    ChangeEvent::Kind kind = ChangeEvent::Kind::controller;
    char device[kMaxDeviceName + 1] = {};
    std::uint32_t entry = 0;
    bool lost = false;  // written by the host for a device whose line is lost
    quorlix_con_data con{};
    quorlix_tra_data tra{};

    static PublishedRecord from(const ChangeEvent& event);
};

}  // namespace host
