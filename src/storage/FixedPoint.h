#pragma once

#include <cstdint>

// Scales of the records' fixed-point values.
constexpr double kPoseScale = 100000.0;
constexpr double kValuatorScale = 1000.0;
// Read-back steps: the single-precision constants nearest 0.00001 and 0.001.
constexpr float kPoseStep = 0.00001f;
constexpr float kValuatorStep = 0.001f;

// value × scale truncated toward zero. Products beyond the 32-bit range
// saturate at the nearest bound and NaN stores 0, so no input reaches an
// undefined float-to-integer conversion.
std::int32_t encodeFixed(float value, double scale);

// stored × step, rounded once to single precision.
float decodeFixed(std::int32_t stored, float step);
