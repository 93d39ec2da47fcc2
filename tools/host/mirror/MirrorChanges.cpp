#include "MirrorChanges.h"

#include "PublishedSnapshot.h"

namespace host {

bool MirrorChanges::write(const MirrorMessage& record) {
    if (!storages_.write(record)) return false;
    const std::string device = record.device;
    ChangeEvent e;
    e.kind = record.kind == MirrorMessage::Kind::controller ? ChangeEvent::Kind::controller : ChangeEvent::Kind::tracker;
    e.device = &device;
    e.entry = record.entry;
    e.lost = record.lost;
    if (e.kind == ChangeEvent::Kind::controller) e.con = record.record.con;
    else e.tra = record.record.tra;
    listener_.changed(e);
    return true;
}

void MirrorChanges::releaseAll(std::int64_t nowUs) {
    storages_.releaseAll(nowUs);
    std::vector<PublishedRecord> records;
    std::uint32_t lost = 0;
    publishedSnapshot(view_, PublishedView::Kind::controller, records, lost);
    publishedSnapshot(view_, PublishedView::Kind::tracker, records, lost);
    for (const PublishedRecord& r : records) {
        const std::string device = r.device;
        ChangeEvent e;
        e.kind = r.kind;
        e.device = &device;
        e.entry = r.entry;
        e.lost = r.lost;
        e.con = r.con;
        e.tra = r.tra;
        listener_.changed(e);
    }
}

}  // namespace host
