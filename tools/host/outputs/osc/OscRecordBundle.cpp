#include "OscRecordBundle.h"

#include "OscAddressSpace.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace {

// Seconds from the OSC epoch (1900) to the Unix epoch (1970).
constexpr std::uint32_t kOscEpochOffset = 2208988800u;

lo_message recordMessage(const char* device, std::uint32_t entry, std::uint32_t sequence, const void* bytes,
                         std::int32_t size, bool lost) {
    lo_message m = lo_message_new();
    lo_message_add_string(m, device);
    lo_message_add_int32(m, static_cast<std::int32_t>(entry));
    lo_message_add_int32(m, static_cast<std::int32_t>(sequence));
    lo_blob blob = lo_blob_new(size, bytes);
    lo_message_add_blob(m, blob);  // copies the bytes
    lo_blob_free(blob);
    lo_message_add_int32(m, lost ? 1 : 0);
    return m;
}

lo_message addressed(const PublishedRecord& r) {
    lo_message m = lo_message_new();
    lo_message_add_string(m, r.device);
    lo_message_add_int32(m, static_cast<std::int32_t>(r.entry));
    return m;
}

}  // namespace

lo_timetag recordTimeTag(std::int32_t storedSec, std::int32_t storedUsec) {
    const std::int32_t sec = quorlix_net_i32(storedSec);
    const std::int32_t usec = std::min<std::int32_t>(std::max<std::int32_t>(quorlix_net_i32(storedUsec), 0), 999999);
    if (sec <= 0) return LO_TT_IMMEDIATE;
    lo_timetag tag;
    tag.sec = static_cast<std::uint32_t>(sec) + kOscEpochOffset;
    tag.frac = static_cast<std::uint32_t>((static_cast<std::uint64_t>(usec) << 32) / 1000000u);
    return tag;
}

OscBundle::OscBundle(lo_timetag tag) : bundle_(lo_bundle_new(tag)) {}

OscBundle::~OscBundle() {
    if (bundle_ != nullptr) lo_bundle_free_recursive(bundle_);
}

bool OscBundle::add(const char* address, lo_message message) {
    if (bundle_ == nullptr || message == nullptr || lo_bundle_add_message(bundle_, address, message) != 0) {
        if (message != nullptr) lo_message_free(message);
        return false;
    }
    return true;
}

void fillRecordBundle(OscBundle& bundle, const PublishedRecord& r, std::uint32_t sequence) {
    if (r.kind == ChangeEvent::Kind::controller) {
        bundle.add(osc::kControllerRecord, recordMessage(r.device, r.entry, sequence, &r.con, sizeof r.con, r.lost));
        lo_message buttons = addressed(r);
        const std::uint32_t buttonCount = std::min<std::uint32_t>(quorlix_net_u32(r.con.button_count), 32);
        for (std::uint32_t b = 1; b <= buttonCount; ++b) lo_message_add_int32(buttons, quorlix_con_button(&r.con, b));
        bundle.add(osc::kButtons, buttons);
        lo_message valuators = addressed(r);
        const std::uint32_t valuatorCount = std::min<std::uint32_t>(quorlix_net_u32(r.con.valuator_count), 32);
        for (std::uint32_t v = 1; v <= valuatorCount; ++v)
            lo_message_add_float(valuators, quorlix_con_valuator(&r.con, v));
        bundle.add(osc::kValuators, valuators);
        return;
    }
    bundle.add(osc::kTrackerRecord, recordMessage(r.device, r.entry, sequence, &r.tra, sizeof r.tra, r.lost));
    lo_message pose = addressed(r);
    for (std::int32_t stored : {r.tra.x, r.tra.y, r.tra.z, r.tra.azim, r.tra.elev, r.tra.roll})
        lo_message_add_float(pose, quorlix_tra_value(stored));
    bundle.add(osc::kPose, pose);
}

void fillKeyframeEnd(OscBundle& bundle, const KeyframeEnd& end, std::uint32_t sequence) {
    lo_message m = lo_message_new();
    for (std::uint32_t value : {sequence, end.controllers, end.trackers, end.controllersLost, end.trackersLost})
        lo_message_add_int32(m, static_cast<std::int32_t>(value));
    bundle.add(osc::kKeyframe, m);
}

void fillGoodbye(OscBundle& bundle, std::uint32_t sequence) {
    lo_message m = lo_message_new();
    lo_message_add_int32(m, static_cast<std::int32_t>(sequence));
    bundle.add(osc::kGoodbye, m);
}

}  // namespace host
