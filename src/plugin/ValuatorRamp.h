#pragma once

#include <cstdint>

// The wand has no analogue axes: each valuator is pushed by two direction
// buttons, one fixed step per data cycle, and falls back to 0 when neither is
// held. All arithmetic stays in single precision.

// One step of one valuator. `up`/`down` are its direction buttons,
// `increment` the ramp step and `decrement` the return step.
float rampValuator(float value, bool up, bool down, float increment, float decrement);

// Both wand valuators from the wand's eleven button states: valuator 2 follows
// buttons 8 (up) and 9 (down), valuator 1 buttons 10 (up) and 11 (down).
void rampWandValuators(float (&values)[2], const std::int32_t (&buttons)[11], float increment, float decrement);
