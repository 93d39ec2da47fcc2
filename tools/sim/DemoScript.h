#pragma once

namespace sim {

// The script of the out-of-the-box demo: every button, each valuator ramping
// up and back in both directions, and both together to move the tracker.
extern const char* const kDemoScript;

}  // namespace sim
