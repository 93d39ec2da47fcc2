// changes/: the change bus: each record a device rewrote, handed to every output.
#pragma once

#include "quorlix/shm.h"

#include <cstdint>
#include <string>

namespace host {

// A record a device rewrote, as the host copied it out after the call.
struct ChangeEvent {
    enum class Kind { controller, tracker };
    Kind kind = Kind::controller;
    const std::string* device = nullptr;
    std::uint32_t entry = 0;
    quorlix_con_data con{};
    quorlix_tra_data tra{};
    // Written by the host for a device whose line is lost (see LineLoss).
    bool lost = false;
};

// Told of every change, from the device threads.
class ChangeListener {
public:
    virtual ~ChangeListener() = default;
    virtual void changed(const ChangeEvent& event) = 0;
};

}  // namespace host
