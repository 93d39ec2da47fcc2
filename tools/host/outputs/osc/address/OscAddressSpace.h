// outputs/osc/address/: the OSC address space that the publisher sends and a mirror reads.
#pragma once

// The OSC address space the host publishes and a mirror reads (docs/osc.md).
// Every change goes out as one bundle time-tagged with the record's own time
// stamp: the record message for mirrors first, then the decoded values.
namespace host {
namespace osc {

// device (s), entry 1..32 (i), sequence (i), the record as stored (b),
// 1 while the device's line is lost, else 0 (i)
constexpr const char* kControllerRecord = "/quorlix/controller";
constexpr const char* kTrackerRecord = "/quorlix/tracker";
constexpr const char* kRecordTypes = "siibi";

// device, entry, then one int 0/1 per button in output order
constexpr const char* kButtons = "/quorlix/controller/buttons";
// device, entry, then one float -1..1 per valuator
constexpr const char* kValuators = "/quorlix/controller/valuators";
// device, entry, x, y, z (feet), azimuth, elevation, roll (degrees)
constexpr const char* kPose = "/quorlix/tracker/pose";
constexpr const char* kPoseTypes = "siffffff";

// Ends a keyframe, after a bundle per entry in use: sequence, controllers in
// use, trackers in use, controllers lost, trackers lost (bit n - 1 for entry n).
constexpr const char* kKeyframe = "/quorlix/keyframe";
constexpr const char* kKeyframeTypes = "iiiii";

// A host that stops says so, so that its mirrors release at once instead of
// after its silence: sequence.
constexpr const char* kGoodbye = "/quorlix/goodbye";
constexpr const char* kGoodbyeTypes = "i";

// The prefix of every address above.
constexpr const char* kPrefix = "/quorlix/";

}  // namespace osc
}  // namespace host
