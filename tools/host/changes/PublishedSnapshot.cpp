#include "PublishedSnapshot.h"

#include <cstring>

namespace host {

std::uint32_t publishedSnapshot(const PublishedView& view, PublishedView::Kind kind, std::vector<PublishedRecord>& out,
                                std::uint32_t& lost) {
    const std::uint32_t count = view.count(kind);
    lost = 0;
    for (std::uint32_t n = 1; n <= count; ++n) {
        PublishedRecord r;
        r.entry = n;
        if (kind == PublishedView::Kind::controller) {
            quorlix_shm_controller e{};
            if (!view.read(n, e)) continue;  // not whole: left out
            r.kind = ChangeEvent::Kind::controller;
            r.con = e.record;
            r.lost = e.head.lost != 0;
            std::memcpy(r.device, e.head.owner, sizeof r.device - 1);
        } else {
            quorlix_shm_tracker e{};
            if (!view.read(n, e)) continue;
            r.kind = ChangeEvent::Kind::tracker;
            r.tra = e.record;
            r.lost = e.head.lost != 0;
            std::memcpy(r.device, e.head.owner, sizeof r.device - 1);
        }
        if (r.lost) lost |= 1u << (n - 1);
        out.push_back(r);
    }
    return count;
}

}  // namespace host
