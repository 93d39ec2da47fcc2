// outputs/osc/: every change over OSC to render nodes and other receivers, with keyframes.
#pragma once

#include "PublishedRecord.h"
#include "quorlix/shm.h"

#include <lo/lo.h>

#include <cstdint>

namespace host {

// The OSC time tag of a record's time stamp (stored in network byte order);
// immediate for a record never stamped.
lo_timetag recordTimeTag(std::int32_t storedSec, std::int32_t storedUsec);

// One bundle as liblo sends it, freed with its messages.
class OscBundle {
public:
    explicit OscBundle(lo_timetag tag);
    ~OscBundle();
    OscBundle(const OscBundle&) = delete;
    OscBundle& operator=(const OscBundle&) = delete;

    // Takes the message; false when liblo could not add it.
    bool add(const char* address, lo_message message);
    lo_bundle get() const { return bundle_; }

private:
    lo_bundle bundle_;
};

// The record message (device, entry, sequence, the record's bytes) followed
// by its decoded values, time-tagged with the record's time stamp.
void fillRecordBundle(OscBundle& bundle, const PublishedRecord& record, std::uint32_t sequence);
inline lo_timetag timeTagOf(const PublishedRecord& record) {
    return record.kind == ChangeEvent::Kind::controller ? recordTimeTag(record.con.time_sec, record.con.time_usec)
                                                        : recordTimeTag(record.tra.time_sec, record.tra.time_usec);
}

// What ends a keyframe.
struct KeyframeEnd {
    std::uint32_t controllers = 0;
    std::uint32_t trackers = 0;
    std::uint32_t controllersLost = 0;
    std::uint32_t trackersLost = 0;
};
void fillKeyframeEnd(OscBundle& bundle, const KeyframeEnd& end, std::uint32_t sequence);
void fillGoodbye(OscBundle& bundle, std::uint32_t sequence);

}  // namespace host
