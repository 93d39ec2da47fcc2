// outputs/vrpn/: the wand for VRPN clients: buttons, analogs and trackers over VRPN's own protocol.
#pragma once

#include "quorlix/shm.h"

namespace host {

// A tracker record as VRPN has poses: the position in metres (the records
// hold feet) on the records' own axes, and the orientation as a unit
// quaternion (x, y, z, w). Azimuth turns about y, elevation about x, roll
// about z, each counter-clockwise seen from the axis' tip; the orientation is
// R = Ry(azimuth) Rx(elevation) Rz(roll): roll first, azimuth last.
struct VrpnPose {
    double position[3] = {0, 0, 0};
    double quaternion[4] = {0, 0, 0, 1};
};

VrpnPose vrpnPose(const quorlix_tra_data& record);

}  // namespace host
