#pragma once

#include "ButtonTable.h"
#include "WandRecord.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Duration = std::chrono::microseconds;

// One statement of a simulator script.
struct Step {
    enum class Kind {
        press,    // add `buttons` to the held set, send a key record
        release,  // drop `buttons` (all when `allButtons`) from the held set, send a key record
        hold,     // press `buttons`, wait `duration`, release them
        wait,     // send nothing for `duration`
        text,     // send a text/ACK record carrying `bytes`
        raw,      // send `bytes` as they are
        repeat,   // run `body` `count` times
        unplug,   // take the line away, as a pulled USB adapter would
        plug,     // bring the line back
    };

    Kind kind = Kind::wait;
    unsigned line = 0;
    ButtonSet buttons;
    bool allButtons = false;
    Duration duration{0};
    Bytes bytes;
    std::uint32_t count = 0;
    std::vector<Step> body;
};

using Script = std::vector<Step>;

}  // namespace sim
