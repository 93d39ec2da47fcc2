#include "tracker/TraMatrix.h"

#include <cmath>

namespace {

// Single-precision degree factor. Kept exactly as written: a more exact pi / 180
// would move every matrix made from a configured angle by a few ulps.
constexpr float kRadiansPerDegree = 0.0174532905f;

}  // namespace

bool matrixZero(TraMatrix* matrix) {
    if (matrix == nullptr) return false;
    for (float& element : matrix->m) element = 0.0f;
    return true;
}

bool matrixIdentity(TraMatrix* matrix) {
    if (matrix == nullptr) return false;
    matrixZero(matrix);
    matrix->m[0] = 1.0f;
    matrix->m[5] = 1.0f;
    matrix->m[10] = 1.0f;
    matrix->m[15] = 1.0f;
    return true;
}

TraMatrix matrixOffset(float x, float y, float z) {
    TraMatrix result{};
    result.m[3] = x;
    result.m[7] = y;
    result.m[11] = z;
    return result;
}

TraMatrix matrixRotation(float axisX, float axisY, float axisZ, float angleDegrees) {
    // The length in double so that tiny or huge axes neither underflow to a
    // false zero axis nor overflow.
    const double ax = axisX;
    const double ay = axisY;
    const double az = axisZ;
    const double length = std::sqrt(ax * ax + ay * ay + az * az);

    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double c = 1.0;
    double s = 0.0;
    if (length != 0.0) {
        x = ax / length;
        y = ay / length;
        z = az / length;
        const float radians = angleDegrees * kRadiansPerDegree;
        s = std::sin(static_cast<double>(radians));
        c = std::cos(static_cast<double>(radians));
    }
    const double t = 1.0 - c;

    TraMatrix result{};
    result.m[0] = static_cast<float>(c + t * x * x);
    result.m[1] = static_cast<float>(t * x * y + z * s);
    result.m[2] = static_cast<float>(t * x * z - y * s);
    result.m[4] = static_cast<float>(t * x * y - z * s);
    result.m[5] = static_cast<float>(c + t * y * y);
    result.m[6] = static_cast<float>(t * y * z + x * s);
    result.m[8] = static_cast<float>(t * x * z + y * s);
    result.m[9] = static_cast<float>(t * y * z - x * s);
    result.m[10] = static_cast<float>(c + t * z * z);
    return result;
}

TraMatrix matrixFromRows(float a0, float a1, float a2, float a3, float a4, float a5, float a6, float a7,
                         float a8) {
    TraMatrix result{};
    result.m[0] = a0;
    result.m[1] = a1;
    result.m[2] = a2;
    result.m[4] = a3;
    result.m[5] = a4;
    result.m[6] = a5;
    result.m[8] = a6;
    result.m[9] = a7;
    result.m[10] = a8;
    return result;
}

TraMatrix matrixCompose(TraMatrix rotation, TraMatrix offset) {
    TraMatrix result{};
    for (int i = 0; i < 12; ++i) result.m[i] = rotation.m[i];
    result.m[12] = offset.m[3];
    result.m[13] = offset.m[7];
    result.m[14] = offset.m[11];
    result.m[15] = 1.0f;
    return result;
}
