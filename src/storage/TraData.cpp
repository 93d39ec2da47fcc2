#include "storage/TraData.h"

#include "storage/ByteOrder.h"
#include "storage/EntryNumber.h"
#include "storage/FixedPoint.h"

namespace {

bool storePose(std::int32_t& field, float value) {
    field = hostToNetSigned(encodeFixed(value, kPoseScale));
    return true;
}

float readPose(std::int32_t field) { return decodeFixed(netToHostSigned(field), kPoseStep); }

}  // namespace

bool TraData::setNumber(std::uint32_t n) {
    if (!isMaskEntry(n)) return false;
    number = hostToNet(n);
    return true;
}

bool TraData::setTime(std::int32_t seconds, std::int32_t microseconds) {
    timeSec = hostToNetSigned(seconds);
    timeUsec = hostToNetSigned(microseconds);
    return true;
}

bool TraData::setX(float value) { return storePose(x, value); }
bool TraData::setY(float value) { return storePose(y, value); }
bool TraData::setZ(float value) { return storePose(z, value); }
bool TraData::setAzim(float value) { return storePose(azim, value); }
bool TraData::setElev(float value) { return storePose(elev, value); }
bool TraData::setRoll(float value) { return storePose(roll, value); }
float TraData::getX() const { return readPose(x); }
float TraData::getY() const { return readPose(y); }
float TraData::getZ() const { return readPose(z); }
float TraData::getAzim() const { return readPose(azim); }
float TraData::getElev() const { return readPose(elev); }
float TraData::getRoll() const { return readPose(roll); }

bool sameTraData(const TraData& first, const TraData& second) {
    return first.getX() == second.getX() && first.getY() == second.getY() && first.getZ() == second.getZ() &&
           first.getAzim() == second.getAzim() && first.getElev() == second.getElev() &&
           first.getRoll() == second.getRoll();
}
