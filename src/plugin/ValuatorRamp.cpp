#include "plugin/ValuatorRamp.h"

// The ramps are deliberately not mirror images: going up from below 0 the
// value first gains decrement + increment and then, once it is not negative,
// the increment again in the same step; going down from above 0 it loses
// decrement + increment and nothing more. Each rule tests the value the rule
// before it left.
float rampValuator(float value, bool up, bool down, float increment, float decrement) {
    float v = value;
    if (up && down) return v;
    if (up) {
        if (v < 0.0f) v = v + decrement + increment;
        if (v >= 0.0f) v = v + increment;
        if (v > 1.0f) v = 1.0f;
        return v;
    }
    if (down) {
        if (v <= 0.0f) v = v - increment;
        if (v > 0.0f) v = v - (decrement + increment);
        if (v < -1.0f) v = -1.0f;
        return v;
    }
    if (v < 0.0f) {
        v = v + decrement;
        if (v > 0.0f) v = 0.0f;
    }
    if (v > 0.0f) {
        v = v - decrement;
        if (v < 0.0f) v = 0.0f;
    }
    return v;
}

void rampWandValuators(float (&values)[2], const std::int32_t (&buttons)[11], float increment, float decrement) {
    values[1] = rampValuator(values[1], buttons[7] != 0, buttons[8] != 0, increment, decrement);
    values[0] = rampValuator(values[0], buttons[9] != 0, buttons[10] != 0, increment, decrement);
}
