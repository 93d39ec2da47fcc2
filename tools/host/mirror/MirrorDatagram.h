// mirror/: a render node's copy of a publishing host's storages, kept from its OSC.
#pragma once

#include "quorlix/shm.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// One message of the address space a mirror reads, checked.
struct MirrorMessage {
    enum class Kind { controller, tracker, keyframe, goodbye };
    Kind kind = Kind::controller;
    std::uint32_t sequence = 0;
    // Records: entry 1..32, the device (a C string) and the record as stored.
    std::uint32_t entry = 0;
    char device[QUORLIX_SHM_OWNER_SIZE] = {};
    bool lost = false;
    union {
        quorlix_con_data con;
        quorlix_tra_data tra;
    } record = {};
    // Keyframes: the entries in use and their lost marks (bit n - 1: entry n).
    std::uint32_t controllers = 0, trackers = 0, controllersLost = 0, trackersLost = 0;

    bool isRecord() const { return kind == Kind::controller || kind == Kind::tracker; }
};

// Reads one datagram: a message, or a bundle (bundles within it too) of
// them. Every message must be one of ours, at its exact address (OSC
// patterns match nothing here), with its exact type tags and values in
// range; the decoded values that follow a record are checked and skipped.
// A datagram with one message wrong is refused whole: "" and `out` filled,
// or what was wrong and `out` empty.
std::string readMirrorDatagram(const void* data, std::size_t size, std::vector<MirrorMessage>& out);

}  // namespace host
