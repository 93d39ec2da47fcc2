#include "VrpnPose.h"

#include <cmath>
#include <cstdint>

namespace host {

namespace {

constexpr double kMetresPerFoot = 0.3048;

// x, y, z, w, as VRPN orders them.
struct Quaternion {
    double x, y, z, w;
};

Quaternion about(double ax, double ay, double az, double degrees) {
    const double half = degrees * (M_PI / 180.0) / 2;
    const double s = std::sin(half);
    return {ax * s, ay * s, az * s, std::cos(half)};
}

// a then b applied to a vector: a b (Hamilton).
Quaternion product(const Quaternion& a, const Quaternion& b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

double stored(std::int32_t value) { return quorlix_net_i32(value) / 100000.0; }

}  // namespace

VrpnPose vrpnPose(const quorlix_tra_data& record) {
    VrpnPose pose;
    pose.position[0] = stored(record.x) * kMetresPerFoot;
    pose.position[1] = stored(record.y) * kMetresPerFoot;
    pose.position[2] = stored(record.z) * kMetresPerFoot;
    const Quaternion q = product(product(about(0, 1, 0, stored(record.azim)), about(1, 0, 0, stored(record.elev))),
                                 about(0, 0, 1, stored(record.roll)));
    // One sign for a rotation, so that equal poses give equal messages.
    const double sign = q.w < 0 ? -1.0 : 1.0;
    pose.quaternion[0] = sign * q.x;
    pose.quaternion[1] = sign * q.y;
    pose.quaternion[2] = sign * q.z;
    pose.quaternion[3] = sign * q.w;
    return pose;
}

}  // namespace host
